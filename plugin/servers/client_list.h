// The TCP server's clients: an owning list linked through the connections'
// own fields, so that listing a client never allocates and cannot fail.
// Destroying the list destroys the connections still in it (which closes
// them). Not thread-safe: the server guards it with its client lock.
#pragma once

#include <cstddef>

namespace lanfeed {

class TcpClientConnection;

class ClientList {
 public:
  ClientList() = default;
  ~ClientList();
  ClientList(const ClientList&) = delete;
  ClientList& operator=(const ClientList&) = delete;

  // Appends `connection` (in no list), which the list then owns.
  void PushBack(TcpClientConnection* connection);
  // Moves `connection`, a member of this list, to the end of `other`.
  void MoveTo(TcpClientConnection* connection, ClientList& other);

  TcpClientConnection* First() const { return first_; }
  static TcpClientConnection* Next(const TcpClientConnection* connection);
  std::size_t Size() const { return size_; }

 private:
  void Unlink(TcpClientConnection* connection);

  TcpClientConnection* first_ = nullptr;
  TcpClientConnection* last_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace lanfeed
