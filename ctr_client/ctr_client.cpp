// The four exported functions. They are called from the host's thread, one at a time.
#include "ctr_client.h"

#include <atomic>

#include "ctr_frame.h"
#include "tcp_client.h"

namespace {

std::atomic<ctr::TcpClient*> g_pClient{nullptr};
ClientMessageCallback g_onMessage = nullptr;
ClientStatusCallback g_onStatus = nullptr;
void* g_user = nullptr;

}  // namespace

extern "C" {

int CTR_SetClientCallBack(ClientMessageCallback onMessage, ClientStatusCallback onStatus, void* user) {
  g_onMessage = onMessage;
  g_onStatus = onStatus;
  g_user = user;
  return 0;
}

int CTR_CreateClient(char* ip, unsigned short port, int clientType) {
  if (ip == nullptr || port == 0 || clientType <= 0) return -1;
  // One client per process: a second one would share the process-wide state with the first.
  if (g_pClient.load() != nullptr) return -1;
  auto* client = new ctr::TcpClient();
  g_pClient.store(client);
  if (!client->Start(ip, port, clientType, g_onMessage, g_onStatus, g_user)) {
    client->Stop();
    delete client;
    g_pClient.store(nullptr);
    return -1;
  }
  return 0;
}

int CTR_SendDataToServer(char* data, int length) {
  ctr::TcpClient* client = g_pClient.load();
  if (client == nullptr || !client->HasConnection()) return -1;
  if (data == nullptr || length <= 0 || length > ctr::CTR_MAX_MESSAGE) return -2;
  return client->SendData(data, length);
}

int CTR_StopClient(void) {
  ctr::TcpClient* client = g_pClient.load();
  if (client == nullptr || !client->HasConnection()) return -1;
  // Stopping waits for the library's threads to end, which cannot happen from inside one of them.
  if (ctr::BL_Thread::IsLibraryThread()) return -1;
  client->Stop();
  delete client;
  g_pClient.store(nullptr);
  g_onMessage = nullptr;
  g_onStatus = nullptr;
  g_user = nullptr;
  return 0;
}

}  // extern "C"
