// What TcpLink says when the link itself fails: the error name "<LINK>" and
// a Russian sentence in code page 1251 naming the server and what went
// wrong, whichever way the peer misbehaves. A peer on loopback plays each
// misbehaviour from a script.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "link/link_texts.h"
#include "link/tcp_link.h"
#include "mlink/errors.h"
#include "mlink/messages.h"

namespace dorvik::testing {
namespace {

using namespace std::chrono_literals;

int ListenOnLoopback() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

void SendBytes(int fd, const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

bool ReceiveExactly(int fd, std::string& out, std::size_t n) {
  out.assign(n, '\0');
  for (std::size_t done = 0; done < n;) {
    const ssize_t got = ::recv(fd, out.data() + done, n - done, 0);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Takes one whole frame from the client (its hello or a request).
void ReadFrame(int fd) {
  std::string length, body;
  if (!ReceiveExactly(fd, length, 4)) return;
  const auto* b = reinterpret_cast<const unsigned char*>(length.data());
  ReceiveExactly(fd, body, (std::size_t{b[0]} << 24) | (std::size_t{b[1]} << 16) | (std::size_t{b[2]} << 8) | b[3]);
}

// Waits until the client closes the connection.
void WaitForClose(int fd) {
  char buffer[4096];
  while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
}

void Welcome(int fd) {
  ReadFrame(fd);
  SendBytes(fd, mlink::EncodeFrame(mlink::Welcome{mlink::kProtocolVersion, "", "test", "1"}));
}

// Serves one connection on a free loopback port by its script, then closes it.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::function<void(int)> script) : listener_(ListenOnLoopback()) {
    thread_ = std::thread([this, script] {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      script(fd);
      ::close(fd);
    });
  }
  ~ScriptedPeer() {
    thread_.join();
    ::close(listener_);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int Port() const { return PortOf(listener_); }

 private:
  int listener_;
  std::thread thread_;
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

TEST(TcpLinkFailure, SaysInRussianWhatFailedAndWhere) {
  struct Case {
    const char* what;
    std::function<void(int)> peer;  // none: nothing listens
    std::string code;               // the line the link runs
    std::string expected;           // UTF-8; {server} is the peer's address
  };
  // With the namespace and the fields around it, the request is 22 bytes
  // longer than its line.
  const std::string hugeLine(mlink::kDefaultMaxFrame, 'x');
  const std::vector<Case> cases = {
      {"nothing listens", nullptr, "s x=1", "<LINK> сервер {server} отказал в соединении (запущен ли сервер?)"},
      {"closes after the hello", [](int fd) { ReadFrame(fd); }, "s x=1", "<LINK> сервер {server} закрыл соединение"},
      {"answers the hello with an answer",
       [](int fd) {
         ReadFrame(fd);
         SendBytes(fd, mlink::EncodeFrame(mlink::Answer{}));
       },
       "s x=1", "<LINK> сервер {server} ответил на приветствие не по протоколу связи"},
      {"speaks another protocol version",
       [](int fd) {
         ReadFrame(fd);
         SendBytes(fd, mlink::EncodeFrame(mlink::Welcome{9, "", "test", "1"}));
       },
       "s x=1", "<LINK> сервер {server} работает по протоколу связи версии 9, а программа по версии 2"},
      {"says why it closes",
       [](int fd) {
         Welcome(fd);
         ReadFrame(fd);
         SendBytes(fd, mlink::EncodeFrame(mlink::Fault{"too many\nconnections"}));
       },
       "s x=1", "<LINK> сервер {server} закрыл соединение: too many connections"},
      {"announces a frame above the limit",
       [](int fd) {
         Welcome(fd);
         ReadFrame(fd);
         SendBytes(fd, std::string(4, '\xff'));
         WaitForClose(fd);
       },
       "s x=1", "<LINK> сервер {server} прислал ответ размером 4294967295 байт, больше предела в 16777216 байт"},
      {"sends a frame that is no message",
       [](int fd) {
         Welcome(fd);
         ReadFrame(fd);
         SendBytes(fd, std::string("\0\0\0\1\x09", 5));
         WaitForClose(fd);
       },
       "s x=1", "<LINK> сервер {server} прислал ответ, нарушающий протокол связи"},
      {"closes in the middle of an answer",
       [](int fd) {
         Welcome(fd);
         ReadFrame(fd);
         SendBytes(fd, std::string("\0\0\0\x64", 4) + "\x04part");
       },
       "s x=1", "<LINK> сервер {server} закрыл соединение посреди ответа"},
      {"answers a request with a welcome",
       [](int fd) {
         Welcome(fd);
         ReadFrame(fd);
         SendBytes(fd, mlink::EncodeFrame(mlink::Welcome{}));
         WaitForClose(fd);
       },
       "s x=1", "<LINK> сервер {server} прислал вместо ответа на запрос другое сообщение"},
      {"answers nothing",
       [](int fd) {
         Welcome(fd);
         WaitForClose(fd);
       },
       "s x=1", "<LINK> сервер {server} не ответил за 300 мс"},
      {"is sent a line above the frame limit",
       [](int fd) {
         Welcome(fd);
         WaitForClose(fd);
       },
       hugeLine, "<LINK> запрос размером 16777238 байт больше предела в 16777216 байт и не отправлен серверу {server}"},
  };
  for (const Case& c : cases) {
    std::optional<ScriptedPeer> peer;
    int port = 0;
    if (c.peer) {
      peer.emplace(c.peer);
      port = peer->Port();
    } else {
      const int closed = ListenOnLoopback();
      port = PortOf(closed);
      ::close(closed);
    }
    TcpLinkOptions options;
    options.connectTimeout = 2s;
    options.callTimeout = 300ms;
    TcpLink link(options);
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(port)));
    link.SetNamespace("USER");
    link.RunCode(c.code);
    EXPECT_EQ(link.ErrorCode(), -1) << c.what;
    const std::string expected = Replace(c.expected, "{server}", "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(link.ErrorText(), Ru(expected)) << c.what << ": " << Cp1251ToUtf8(link.ErrorText());
  }
}

// The address is checked before anything is sent; the text quotes it.
TEST(TcpLinkFailure, NamesAnAddressItCannotUse) {
  struct Case {
    std::string server;
    std::string expected;  // UTF-8
  };
  const std::vector<Case> cases = {
      {"", "<LINK> не указан адрес сервера"},
      {BuildServerString("127.0.0.1", "99999"),
       "<LINK> неверный адрес сервера «127.0.0.1:99999» (нужны имя или IP-адрес и порт от 0 до 65535)"},
      {"CN_IPTCP:127.0.0.1:127.0.0.1",
       "<LINK> неверный адрес сервера «CN_IPTCP:127.0.0.1:127.0.0.1» (нужны имя или IP-адрес и порт от 0 до 65535)"},
  };
  for (const Case& c : cases) {
    TcpLink link;
    link.SetServer(c.server);
    link.RunCode("s x=1");
    EXPECT_EQ(link.ErrorCode(), -1) << c.server;
    EXPECT_EQ(link.ErrorText(), Ru(c.expected)) << c.server << ": " << Cp1251ToUtf8(link.ErrorText());
  }
}

// Failures a peer on loopback cannot be made to cause: the time limits as a
// person says them, and the system's error code in place of its words.
TEST(TcpLinkFailure, ComposesEveryKindFromItsNumbers) {
  using mlink::FailureKind;
  struct Case {
    FailureKind kind;
    mlink::FailureDetails details;
    std::string expected;  // UTF-8
  };
  const std::string server = "10.0.0.7:1972";
  const std::vector<Case> cases = {
      {FailureKind::CannotResolve,
       {"cache.example", -2, 0, 0, ""},
       "<LINK> не найден адрес сервера «cache.example» (код ошибки -2)"},
      {FailureKind::ConnectTimedOut,
       {server, 0, 0, 10000, ""},
       "<LINK> сервер 10.0.0.7:1972 не ответил на попытку соединения за 10 с"},
      {FailureKind::ConnectTimedOut,
       {server, 110, 0, 0, ""},
       "<LINK> сервер 10.0.0.7:1972 не ответил на попытку соединения"},
      {FailureKind::ConnectFailed,
       {server, 10051, 0, 0, ""},
       "<LINK> не удалось соединиться с сервером 10.0.0.7:1972 (код ошибки 10051)"},
      {FailureKind::NoAnswer, {server, 0, 0, 1800000, ""}, "<LINK> сервер 10.0.0.7:1972 не ответил за 30 мин"},
      {FailureKind::NoAnswer, {server, 0, 0, 0, ""}, "<LINK> сервер 10.0.0.7:1972 не ответил вовремя"},
      {FailureKind::NotTaken, {server, 0, 0, 1500, ""}, "<LINK> сервер 10.0.0.7:1972 не принял данные за 1500 мс"},
      {FailureKind::Reset, {server, 104, 0, 0, ""}, "<LINK> соединение с сервером 10.0.0.7:1972 разорвано"},
      {FailureKind::TransferFailed,
       {server, 10065, 0, 0, ""},
       "<LINK> сбой связи с сервером 10.0.0.7:1972 (код ошибки 10065)"},
      {FailureKind::NotConnected, {server, 0, 0, 0, ""}, "<LINK> нет соединения с сервером 10.0.0.7:1972"},
      {FailureKind::Other, {}, "<LINK> сбой связи с сервером"},
  };
  for (const Case& c : cases) {
    const mlink::LinkError failure("English words that never reach a person", c.kind, c.details);
    EXPECT_EQ(LinkFailureText(failure), Ru(c.expected)) << Cp1251ToUtf8(LinkFailureText(failure));
  }
  // An address and a reason the core holds in code page 1251 pass unchanged.
  mlink::FailureDetails cyrillic{Ru("сервер-1:1972"), 0, 0, 0, Ru("закрыт")};
  EXPECT_EQ(LinkFailureText(mlink::LinkError("", FailureKind::ServerFault, cyrillic)),
            Ru("<LINK> сервер сервер-1:1972 закрыл соединение: закрыт"));
}

}  // namespace
}  // namespace dorvik::testing
