// dorpack keygen: a key pair in minisign's format, with minisign's option
// letters (-p, -s, -W, -f).
#include <filesystem>
#include <fstream>
#include <iostream>

#include "commands.h"
#include "distribution/codepage.h"
#include "key_password.h"
#include "signing/minisign.h"
#include "signing_commands.h"

namespace dorpack {

namespace fs = std::filesystem;

namespace {

constexpr const char* kKeygenHelp =
    "Использование: dorpack keygen -p PUBLIC.pub -s SECRET.key [-W] [-f]\n"
    "\n"
    "Создаёт пару ключей Ed25519 в формате minisign.\n"
    "Секретный ключ защищается паролем, который спрашивается на терминале\n"
    "(без терминала берётся первая строка стандартного ввода).\n"
    "\n"
    "  -p FILE   открытый ключ (его публикуют)\n"
    "  -s FILE   секретный ключ (его хранят в тайне)\n"
    "  -W        секретный ключ без пароля (для сборочных серверов)\n"
    "  -f        заменить существующий секретный ключ\n"
    "\n"
    "Код выхода: 0 ключи записаны; 1 отказ; 2 неверная командная строка.\n";

void WriteFile(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("не удаётся записать " + file.string());
}

}  // namespace

int RunKeygen(const std::vector<std::string>& args) {
  std::string publicFile, secretFile;
  bool unprotected = false, force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kKeygenHelp;
      return kExitOk;
    }
    if ((arg == "-p" || arg == "-s") && i + 1 < args.size()) {
      (arg == "-p" ? publicFile : secretFile) = args[++i];
    } else if (arg == "-W") {
      unprotected = true;
    } else if (arg == "-f") {
      force = true;
    } else {
      std::cerr << "dorpack keygen: непонятный аргумент " << arg << "\n" << kKeygenHelp;
      return kExitUsage;
    }
  }
  if (publicFile.empty() || secretFile.empty()) {
    std::cerr << "dorpack keygen: нужны -p PUBLIC и -s SECRET\n" << kKeygenHelp;
    return kExitUsage;
  }
  std::error_code ec;
  if (!force && fs::exists(secretFile, ec)) {
    std::cerr << "dorpack keygen: секретный ключ " << secretFile << " уже есть; чтобы заменить его, добавьте -f\n";
    return kExitRefused;
  }
  std::optional<std::string> password;
  if (!unprotected) {
    password = ReadKeyPassword("Пароль для секретного ключа: ");
    const auto again = password ? ReadKeyPassword("Тот же пароль ещё раз: ") : std::nullopt;
    if (!password || password->empty()) {
      std::cerr << "dorpack keygen: пароль не введён (для ключа без пароля есть -W)\n";
      return kExitRefused;
    }
    if (again && *again != *password) {
      std::cerr << "dorpack keygen: пароли не совпадают\n";
      return kExitRefused;
    }
  }
  try {
    const dorvik::signing::KeyPair pair = dorvik::signing::GenerateKeyPair();
    WriteFile(secretFile, dorvik::signing::FormatSecretKey(pair.secretKey, password));
    WriteFile(publicFile, dorvik::signing::FormatPublicKey(pair.publicKey));
    std::cout << "Ключ " << dorvik::signing::KeyIdText(pair.publicKey.id) << ": секретный в " << secretFile
              << ", открытый в " << publicFile << "\n";
    return kExitOk;
  } catch (const dorvik::signing::KeyFormatError& e) {
    std::cerr << "dorpack keygen: " << dorvik::Cp1251ToUtf8(e.what()) << "\n";
  } catch (const std::exception& e) {
    std::cerr << "dorpack keygen: " << e.what() << "\n";
  }
  return kExitRefused;
}

}  // namespace dorpack
