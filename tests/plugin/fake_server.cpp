#include "tests/plugin/fake_server.h"

namespace lanfeed::testing {

FakeServer::FakeServer(std::string name, std::vector<std::string>* journal)
    : name_(std::move(name)), journal_(journal) {}

FakeServer::~FakeServer() { journal_->push_back(name_ + ".destroy"); }

int32_t FakeServer::Initialize() {
  journal_->push_back(name_ + ".Initialize");
  return initializeResult;
}

int32_t FakeServer::Uninitialize() {
  journal_->push_back(name_ + ".Uninitialize");
  listenSocket = kInvalidSocket;
  state = kServerClosed;
  return 1;
}

int32_t FakeServer::OpenSocket() {
  journal_->push_back(name_ + ".OpenSocket");
  return 1;
}

int32_t FakeServer::CloseSocket() {
  journal_->push_back(name_ + ".CloseSocket");
  return 1;
}

void FakeServer::Start() { journal_->push_back(name_ + ".Start"); }
void FakeServer::Suspend() { journal_->push_back(name_ + ".Suspend"); }
void FakeServer::Dispatch(const uint8_t*, int32_t) { journal_->push_back(name_ + ".Dispatch"); }

DeviceSettings FakeServer::CopyOfSettings() const { return SettingsCopy(); }

}  // namespace lanfeed::testing
