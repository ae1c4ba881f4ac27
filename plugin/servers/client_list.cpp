#include "plugin/servers/client_list.h"

#include "plugin/servers/tcp_client_connection.h"

namespace lanfeed {

ClientList::~ClientList() {
  while (TcpClientConnection* connection = first_) {
    Unlink(connection);
    delete connection;
  }
}

void ClientList::PushBack(TcpClientConnection* connection) {
  connection->listPrev = last_;
  connection->listNext = nullptr;
  if (last_ != nullptr) last_->listNext = connection;
  else first_ = connection;
  last_ = connection;
  ++size_;
}

void ClientList::MoveTo(TcpClientConnection* connection, ClientList& other) {
  Unlink(connection);
  other.PushBack(connection);
}

TcpClientConnection* ClientList::Next(const TcpClientConnection* connection) { return connection->listNext; }

void ClientList::Unlink(TcpClientConnection* connection) {
  if (connection->listPrev != nullptr) connection->listPrev->listNext = connection->listNext;
  else first_ = connection->listNext;
  if (connection->listNext != nullptr) connection->listNext->listPrev = connection->listPrev;
  else last_ = connection->listPrev;
  connection->listPrev = connection->listNext = nullptr;
  --size_;
}

}  // namespace lanfeed
