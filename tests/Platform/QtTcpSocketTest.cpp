#include "Platform/Real/QtTcpSocket.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/QtSocketFactory.h"

using namespace OrlaqLidar;

namespace {


bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000) { return RunQtUntil(done, timeoutMs); }

class QtTcpSocketTest : public ::testing::Test {
 protected:
  QtTcpSocketTest() {
    EnsureQtApplication();
    EXPECT_TRUE(Server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&Server, &QTcpServer::newConnection, [this] { Peer = Server.nextPendingConnection(); });
  }

  std::unique_ptr<TTcpSocket> Client() { return Factory.CreateClient("127.0.0.1", Server.serverPort()); }

  // Records every event of a socket.
  void Watch(TTcpSocket& s) {
    s.OnStateChange = [this](TSocketState o, TSocketState n) {
      Events.push_back("state " + std::to_string(int(o)) + ">" + std::to_string(int(n)));
    };
    s.OnConnected = [this](int e) { Events.push_back("connected " + std::to_string(e)); };
    s.OnClosed = [this](int e) { Events.push_back("closed " + std::to_string(e)); };
  }

  bool Has(const std::string& e) const { return std::find(Events.begin(), Events.end(), e) != Events.end(); }

  TQtSocketFactory Factory;
  QTcpServer Server;
  QTcpSocket* Peer = nullptr;  // owned by the server
  std::vector<std::string> Events;
};

}  // namespace

TEST_F(QtTcpSocketTest, ConnectsExchangesBytesAndSeesTheFarSideClose) {
  auto s = Client();
  Watch(*s);
  std::string got;
  s->OnDataAvailable = [&](int) {
    char buf[64];
    const int n = s->Receive(reinterpret_cast<uint8_t*>(buf), sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  };
  EXPECT_EQ(s->State(), TSocketState::Opened);
  EXPECT_EQ(s->Send(reinterpret_cast<const uint8_t*>("x"), 1), -1);
  ASSERT_TRUE(s->Connect());
  EXPECT_TRUE(Events.empty());  // nothing is raised inside the call
  ASSERT_TRUE(WaitFor([&] { return Has("connected 0") && Peer; }));
  EXPECT_EQ(s->State(), TSocketState::Connected);
  EXPECT_EQ(Events.front(), "state 1>2");

  EXPECT_EQ(s->Send(reinterpret_cast<const uint8_t*>("ping"), 4), 4);
  ASSERT_TRUE(WaitFor([&] { return Peer->bytesAvailable() >= 4; }));
  EXPECT_EQ(Peer->readAll().toStdString(), "ping");

  Peer->write("hello INS");
  ASSERT_TRUE(WaitFor([&] { return got == "hello INS"; }));
  Peer->disconnectFromHost();
  ASSERT_TRUE(WaitFor([&] { return Has("closed 0"); }));
  EXPECT_TRUE(Has("state 3>4"));
  EXPECT_EQ(s->State(), TSocketState::Closed);
}

TEST_F(QtTcpSocketTest, ARefusedConnectionEndsTheAttemptWithAnError) {
  const uint16_t port = Server.serverPort();
  Server.close();  // nobody listens there now
  auto s = Factory.CreateClient("127.0.0.1", port);
  Watch(*s);
  ASSERT_TRUE(s->Connect());
  ASSERT_TRUE(WaitFor([&] { return s->State() == TSocketState::Closed && !Events.empty() && Has("state 2>4"); }));
  ASSERT_TRUE(WaitFor([&] { return Has("connected " + std::to_string(TTcpSocket::ErrRefused)); }));
  EXPECT_FALSE(Has("closed 0"));
}

TEST_F(QtTcpSocketTest, AHandlerReadingLittleAtATimeDrainsABurst) {
  auto s = Client();
  Watch(*s);
  size_t got = 0;
  int calls = 0;
  s->OnDataAvailable = [&](int) {
    ++calls;
    uint8_t buf[255];
    const int n = s->Receive(buf, std::min(255, s->BytesAvailable()));
    if (n > 0) got += static_cast<size_t>(n);
  };
  ASSERT_TRUE(s->Connect());
  ASSERT_TRUE(WaitFor([&] { return Has("connected 0") && Peer; }));
  Peer->write(QByteArray(3000, 'q'));
  ASSERT_TRUE(WaitFor([&] { return got == 3000; }));
  EXPECT_GE(calls, 12);
  EXPECT_EQ(s->BytesAvailable(), 0);
}

TEST_F(QtTcpSocketTest, AHandlerMayDestroyItsSocketAndCloseRaisesNothing) {
  auto s = Client();
  Watch(*s);
  s->OnDataAvailable = [&](int) { s.reset(); };
  ASSERT_TRUE(s->Connect());
  ASSERT_TRUE(WaitFor([&] { return Has("connected 0") && Peer; }));
  Peer->write("bye");
  Peer->disconnectFromHost();
  ASSERT_TRUE(WaitFor([&] { return !s; }));
  WaitFor([] { return false; }, 50);  // the queued close must find nobody
  EXPECT_FALSE(Has("closed 0"));

  auto t = Client();
  Watch(*t);
  Events.clear();
  Peer = nullptr;
  ASSERT_TRUE(t->Connect());
  ASSERT_TRUE(WaitFor([&] { return Has("connected 0") && Peer; }));
  Events.clear();
  t->Close();
  EXPECT_EQ(t->State(), TSocketState::Closed);
  ASSERT_TRUE(WaitFor([&] { return Peer->state() == QAbstractSocket::UnconnectedState; }));
  WaitFor([] { return false; }, 50);
  EXPECT_TRUE(Events.empty());
}
