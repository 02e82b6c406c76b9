#include "link/link_texts.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "distribution/codepage.h"
#include "mlink/errors.h"
#include "mlink/messages.h"

namespace dorvik {
namespace {

using mlink::FailureKind;

// A text with "{}" where its values go, in the order given; the template is
// UTF-8 in the source and the result code page 1251. The values are bytes
// the core already holds (addresses, numbers) and are not converted.
std::string Compose(std::string_view utf8, std::initializer_list<std::string> values) {
  const std::string pattern = Ru(utf8);
  std::string out;
  auto value = values.begin();
  std::size_t from = 0;
  for (std::size_t at = pattern.find("{}"); at != std::string::npos; at = pattern.find("{}", from)) {
    out.append(pattern, from, at - from);
    if (value != values.end()) out += *value++;
    from = at + 2;
  }
  out.append(pattern, from);
  return out;
}

// Bytes received from elsewhere, on one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return text;
}

// A time limit the way a person says it: minutes, seconds or milliseconds.
std::string Duration(std::uint64_t ms) {
  if (ms % 60000 == 0) return Compose("{} мин", {std::to_string(ms / 60000)});
  if (ms % 1000 == 0) return Compose("{} с", {std::to_string(ms / 1000)});
  return Compose("{} мс", {std::to_string(ms)});
}

std::string Sentence(const mlink::LinkError& failure) {
  const mlink::FailureDetails& d = failure.details();
  const std::string where = OneLine(d.address);
  const std::string code = std::to_string(d.systemCode);
  // A wait whose limit is known says how long it was.
  const auto within = [&](std::string_view withLimit, std::string_view withoutLimit) {
    return d.limit > 0 ? Compose(withLimit, {where, Duration(d.limit)}) : Compose(withoutLimit, {where});
  };
  switch (failure.kind()) {
    case FailureKind::BadAddress:
      if (where.empty()) return Compose("не указан адрес сервера", {});
      return Compose("неверный адрес сервера «{}» (нужны имя или IP-адрес и порт от 0 до 65535)", {where});
    case FailureKind::CannotResolve:
      return Compose("не найден адрес сервера «{}» (код ошибки {})", {where, code});
    case FailureKind::Refused:
      return Compose("сервер {} отказал в соединении (запущен ли сервер?)", {where});
    case FailureKind::ConnectTimedOut:
      return within("сервер {} не ответил на попытку соединения за {}", "сервер {} не ответил на попытку соединения");
    case FailureKind::ConnectFailed:
      return Compose("не удалось соединиться с сервером {} (код ошибки {})", {where, code});
    case FailureKind::NoAnswer:
      return within("сервер {} не ответил за {}", "сервер {} не ответил вовремя");
    case FailureKind::NotTaken:
      return within("сервер {} не принял данные за {}", "сервер {} не принял данные вовремя");
    case FailureKind::Reset:
      return Compose("соединение с сервером {} разорвано", {where});
    case FailureKind::Closed:
      return Compose("сервер {} закрыл соединение", {where});
    case FailureKind::ClosedMidFrame:
      return Compose("сервер {} закрыл соединение посреди ответа", {where});
    case FailureKind::ServerFault:
      return Compose("сервер {} закрыл соединение: {}", {where, OneLine(d.reason)});
    case FailureKind::TransferFailed:
      return Compose("сбой связи с сервером {} (код ошибки {})", {where, code});
    case FailureKind::Malformed:
      return Compose("сервер {} прислал ответ, нарушающий протокол связи", {where});
    case FailureKind::FrameTooLarge:
      return Compose("сервер {} прислал ответ размером {} байт, больше предела в {} байт",
                     {where, std::to_string(d.size), std::to_string(d.limit)});
    case FailureKind::RequestTooLarge:
      return Compose("запрос размером {} байт больше предела в {} байт и не отправлен серверу {}",
                     {std::to_string(d.size), std::to_string(d.limit), where});
    case FailureKind::VersionMismatch:
      return Compose("сервер {} работает по протоколу связи версии {}, а программа по версии {}",
                     {where, std::to_string(d.size), std::to_string(mlink::kProtocolVersion)});
    case FailureKind::NoHandshake:
      return Compose("сервер {} ответил на приветствие не по протоколу связи", {where});
    case FailureKind::UnexpectedMessage:
      return Compose("сервер {} прислал вместо ответа на запрос другое сообщение", {where});
    case FailureKind::NotConnected:
      return Compose("нет соединения с сервером {}", {where});
    case FailureKind::Other:
      break;
  }
  return where.empty() ? Compose("сбой связи с сервером", {}) : Compose("сбой связи с сервером {}", {where});
}

}  // namespace

std::string LinkFailureText(const mlink::LinkError& failure) {
  return std::string(kLinkErrorName) + " " + Sentence(failure);
}

}  // namespace dorvik
