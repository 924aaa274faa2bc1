// The controller-client adapter: one function slot per export of the controller library. Each
// operation calls its slot and returns the slot's result, or -100 when the slot is empty. The slots
// are bound, on the first use, to `libctr_client.so` when it lies beside the addon; without it they
// stay empty.
#ifndef KOVA_CTRCLIENTADAPTER_H
#define KOVA_CTRCLIENTADAPTER_H

#include <node_api.h>

typedef void (*ClientMessageCallback)(char* data, int length, void* user);
typedef void (*ClientStatusCallback)(int status, void* user);

class CTRClientAdapter {
public:
    static constexpr int kNotBound = -100;

    static CTRClientAdapter* CTRClientAdapterInstance();
    static void CTRClientAdapterReleaseInstance();
    virtual ~CTRClientAdapter() = default;

    int CTR_CreateClient(char* ip, unsigned short port, int clientType);
    int CTR_SetClientCallBack(ClientMessageCallback onMessage, ClientStatusCallback onStatus, void* user);
    int CTR_SendDataToServer(char* data, int length);
    int CTR_StopClient();

private:
    CTRClientAdapter();
    void BindLibrary();

    int (*m_pfnCreateClient)(char* ip, unsigned short port, int clientType) = nullptr;
    int (*m_pfnSetClientCallBack)(ClientMessageCallback, ClientStatusCallback, void* user) = nullptr;
    int (*m_pfnSendDataToServer)(char* data, int length) = nullptr;
    int (*m_pfnStopClient)() = nullptr;

    static CTRClientAdapter* s_pAdapter;
};

// JavaScript entry functions of the controller client.
napi_value CTR_SetClientCallBack(napi_env env, napi_callback_info info);
napi_value CTR_CreateClient(napi_env env, napi_callback_info info);
napi_value CTR_SendDataToServer(napi_env env, napi_callback_info info);
napi_value CTR_StopClient(napi_env env, napi_callback_info info);

#endif  // KOVA_CTRCLIENTADAPTER_H
