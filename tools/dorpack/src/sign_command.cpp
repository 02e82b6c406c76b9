// dorpack sign and dorpack build --sign: the signature of a distribution
// folder (dorpack.sums and dorpack.sums.minisig) with a minisign secret key.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "distribution/codepage.h"
#include "key_password.h"
#include "signing/distribution_signature.h"
#include "signing_commands.h"

namespace dorpack {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSignHelp =
    "Использование: dorpack sign SECRET.key DIR [-t COMMENT]\n"
    "       dorpack build MANIFEST -o DIR/dorpack.dat --sign SECRET.key [-t COMMENT]\n"
    "\n"
    "Подписывает дистрибутив в папке DIR: записывает суммы SHA-256 всех файлов,\n"
    "которые читает установщик (dorpack.dat, licence.txt, readme.txt, IMAGES/*),\n"
    "в dorpack.sums и подпись этого списка в dorpack.sums.minisig. Проверка:\n"
    "  sha256sum -c dorpack.sums\n"
    "  minisign -V -m dorpack.sums -p PUBLIC.pub\n"
    "\n"
    "  -t COMMENT  доверенный комментарий (подписывается вместе со списком)\n"
    "\n"
    "Код выхода: 0 подписано; 1 отказ; 2 неверная командная строка.\n";

// A refusal of this file's own, its message in UTF-8; the signing library's
// messages are in code page 1251.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string MessageOf(const std::exception& e) {
  if (dynamic_cast<const CommandError*>(&e) != nullptr) return e.what();
  try {
    return dorvik::Cp1251ToUtf8(e.what());
  } catch (const dorvik::TextConversionError&) {
    return e.what();
  }
}

// Reads and opens the secret key, asking for its password when it has one.
dorvik::signing::SecretKey OpenSecretKey(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CommandError("не удаётся открыть секретный ключ " + file);
  std::stringstream text;
  text << in.rdbuf();
  std::string password;
  if (dorvik::signing::SecretKeyNeedsPassword(text.str())) {
    const auto typed = ReadKeyPassword("Пароль секретного ключа: ");
    if (!typed) throw CommandError("пароль секретного ключа не введён");
    password = *typed;
  }
  return dorvik::signing::ParseSecretKey(text.str(), password);
}

void Sign(const dorvik::signing::SecretKey& key, const fs::path& folder, const std::optional<std::string>& comment) {
  const std::string trusted = comment ? *comment : dorvik::signing::DefaultTrustedComment("dorpack.sums");
  const auto names = dorvik::signing::SignDistribution(folder, key, trusted);
  std::cout << (folder / dorvik::signing::kSignatureFileName).string() << ": подписано ключом "
            << dorvik::signing::KeyIdText(key.id) << ", файлов " << names.size() << "\n";
}

// Takes "-t COMMENT" out of `args`; false when -t has no value.
bool TakeComment(std::vector<std::string>& args, std::optional<std::string>& comment) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "-t") continue;
    if (i + 1 == args.size()) return false;
    comment = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
}

}  // namespace

int RunSign(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  for (const auto& a : args) {
    if (a == "-h" || a == "--help") {
      std::cout << kSignHelp;
      return kExitOk;
    }
  }
  std::optional<std::string> comment;
  if (!TakeComment(args, comment) || args.size() != 2 || args[0].rfind('-', 0) == 0) {
    std::cerr << "dorpack sign: нужны SECRET.key и папка дистрибутива\n" << kSignHelp;
    return kExitUsage;
  }
  try {
    Sign(OpenSecretKey(args[0]), args[1], comment);
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << "dorpack sign: " << MessageOf(e) << "\n";
  }
  return kExitRefused;
}

bool AsksForSignature(const std::vector<std::string>& buildArgs) {
  for (const auto& a : buildArgs) {
    if (a == "--sign") return true;
  }
  return false;
}

int RunSignedBuild(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  std::optional<std::string> comment;
  std::string secretFile, output;
  if (!TakeComment(args, comment)) {
    std::cerr << "dorpack build: -t требует комментарий\n" << kSignHelp;
    return kExitUsage;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--sign") {
      if (i + 1 == args.size() || !secretFile.empty()) {
        std::cerr << "dorpack build: --sign требует один файл секретного ключа\n" << kSignHelp;
        return kExitUsage;
      }
      secretFile = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      --i;
    } else if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size()) {
      output = args[i + 1];
    }
  }
  if (secretFile.empty() || output.empty()) {
    std::cerr << "dorpack build: нужны -o DIR/dorpack.dat и --sign SECRET.key\n" << kSignHelp;
    return kExitUsage;
  }
  if (fs::path(output).filename() != "dorpack.dat") {
    std::cerr << "dorpack build: подписать можно только папку с файлом dorpack.dat, а не "
              << fs::path(output).filename().string() << "\n";
    return kExitUsage;
  }
  try {
    // The key is opened (and its password asked) before the build, so that
    // a wrong password leaves no freshly built but unsigned folder behind.
    const auto key = OpenSecretKey(secretFile);
    if (const int status = RunBuild(args); status != kExitOk) return status;
    fs::path folder = fs::path(output).parent_path();
    if (folder.empty()) folder = ".";
    Sign(key, folder, comment);
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << "dorpack build: " << MessageOf(e) << "\n";
  }
  return kExitRefused;
}

}  // namespace dorpack
