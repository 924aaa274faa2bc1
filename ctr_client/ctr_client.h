/* Controller client: keeps one TCP connection to a controller server, registers on it, sends a
 * heartbeat every five seconds, reconnects after a loss, carries framed messages both ways and
 * reports its connection status. One client per process.
 *
 * Call CTR_SetClientCallBack before CTR_CreateClient: a client copies the callbacks when it is
 * created. Both callbacks run on the library's threads (the status 102 of CTR_CreateClient on the
 * caller's thread); the message bytes belong to the library and are released when the message
 * callback returns. */
#ifndef KOVA_CTR_CLIENT_H
#define KOVA_CTR_CLIENT_H

#if defined(_WIN32)
#if defined(CTR_CLIENT_BUILD)
#define CTR_API __declspec(dllexport)
#else
#define CTR_API __declspec(dllimport)
#endif
#else
#define CTR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  CTR_STATUS_CONNECTED = 100,    /* a connection attempt succeeded */
  CTR_STATUS_DISCONNECTED = 102  /* just created, an attempt failed, or a heartbeat could not be sent */
};

typedef void (*ClientMessageCallback)(char* data, int length, void* user);
typedef void (*ClientStatusCallback)(int status, void* user);

/* Stores the callbacks for the next client. Always 0. */
CTR_API int CTR_SetClientCallBack(ClientMessageCallback onMessage, ClientStatusCallback onStatus, void* user);

/* Starts a client for the dotted-decimal IPv4 address and port: 0, or -1 for a null ip, port 0,
 * a clientType not greater than 0, or while a client exists already. Reports 102 before it
 * returns; 100 follows from the connection thread once connected. */
CTR_API int CTR_CreateClient(char* ip, unsigned short port, int clientType);

/* Sends one data message: the size of its last frame (20 + its payload), the failing write's
 * result, -1 without a client or connection, -2 for null data or a length outside
 * 1..67107840. */
CTR_API int CTR_SendDataToServer(char* data, int length);

/* Stops and destroys the connected client and clears the callbacks: 0; -1 without a client, while
 * it has no connection (it keeps trying), or when called from one of the library's callbacks. */
CTR_API int CTR_StopClient(void);

#ifdef __cplusplus
}
#endif

#endif /* KOVA_CTR_CLIENT_H */
