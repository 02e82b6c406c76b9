#include "signing/distribution_signature.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>

#include "distribution/codepage.h"
#include "signing/sums_list.h"

namespace dorvik::signing {

namespace fs = std::filesystem;

namespace {

// The signature and the list are small; a bigger file is not one of ours
// and is not read into memory.
constexpr std::uintmax_t kMaxSignatureSize = 64 * 1024;
constexpr std::uintmax_t kMaxSumsSize = 4 * 1024 * 1024;

// The whole of a small file; nothing when it cannot be read or is too big.
std::optional<std::string> ReadSmallFile(const fs::path& file, std::uintmax_t limit) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec || size > limit) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(static_cast<std::size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (static_cast<std::uintmax_t>(in.gcount()) != size) return std::nullopt;
  return text;
}

void WriteWhole(const fs::path& file, const std::string& bytes) {
  const fs::path temp = file.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(temp, ec);
      throw std::runtime_error(Ru("не удаётся записать файл ") + file.filename().string());
    }
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw std::runtime_error(Ru("не удаётся заменить файл ") + file.filename().string());
  }
}

SignatureState Refused(SignatureState state, std::string reason) {
  state.status = SignatureStatus::kRefused;
  state.reason = std::move(reason);
  return state;
}

// A trusted comment for the log: code page 1251 where it converts, control
// characters (minisign separates its fields with tabs) as blanks.
std::string CommentForLog(const std::string& utf8) {
  std::string text;
  try {
    text = Utf8ToCp1251(utf8);
  } catch (const TextConversionError&) {
    for (char c : utf8) text += static_cast<unsigned char>(c) < 0x80 ? c : '?';
  }
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

// The checks up to the enforcement: the state as found.
SignatureState Examine(const fs::path& folder, const std::vector<std::string>& filesRead, const TrustSettings& trust) {
  SignatureState state;
  std::error_code ec;
  if (!fs::exists(folder / kSignatureFileName, ec)) {
    if (!trust.Enforced()) return state;
    return Refused(state, Ru("дистрибутив не подписан (нет файла ") + kSignatureFileName + ")");
  }
  const auto signatureText = ReadSmallFile(folder / kSignatureFileName, kMaxSignatureSize);
  if (!signatureText) return Refused(state, Ru("файл подписи ") + kSignatureFileName + Ru(" не читается"));
  Signature signature;
  try {
    signature = ParseSignature(*signatureText);
  } catch (const KeyFormatError& e) {
    return Refused(state, Ru("файл подписи ") + kSignatureFileName + Ru(" повреждён: ") + e.what());
  }
  state.signerKeyId = KeyIdText(signature.keyId);
  if (!signature.prehashed) {
    return Refused(state, Ru("подпись старого вида (без предварительного хеширования, minisign -l) не принимается"));
  }
  const auto sumsText = ReadSmallFile(folder / kSumsFileName, kMaxSumsSize);
  if (!sumsText) return Refused(state, Ru("нет списка сумм ") + kSumsFileName + Ru(" или он не читается"));

  const auto key = std::find_if(trust.trustedKeys.begin(), trust.trustedKeys.end(),
                                [&](const PublicKey& k) { return k.id == signature.keyId; });
  bool trusted = false;
  if (key != trust.trustedKeys.end()) {
    switch (VerifySignature(*key, signature, *sumsText)) {
      case VerifyResult::kVerified:
        trusted = true;
        state.trustedComment = signature.trustedComment;
        break;
      case VerifyResult::kBadSignature:
        return Refused(state, Ru("подпись не соответствует списку сумм ") + kSumsFileName +
                                  Ru(": список или подпись изменены после подписания"));
      case VerifyResult::kBadTrustedComment:
        return Refused(state, Ru("доверенный комментарий подписи изменён после подписания"));
      case VerifyResult::kLegacy:
      case VerifyResult::kOtherKey:
        return Refused(state, Ru("подпись не проверяется ключом ") + state.signerKeyId);
    }
  } else if (!trust.trustedKeys.empty()) {
    return Refused(state,
                   Ru("дистрибутив подписан ключом ") + state.signerKeyId + Ru(", которого нет среди доверенных"));
  }

  std::vector<SumsEntry> entries;
  try {
    entries = ParseSumsList(*sumsText);
  } catch (const SumsFormatError& e) {
    return Refused(state, Ru("список сумм ") + kSumsFileName + Ru(" испорчен: ") + e.what());
  }
  for (const auto& e : entries) state.listedFiles.push_back(e.name);
  for (const auto& name : filesRead) {
    if (std::find(state.listedFiles.begin(), state.listedFiles.end(), name) == state.listedFiles.end()) {
      return Refused(state, Ru("файл ") + name + Ru(" не назван в списке сумм ") + kSumsFileName);
    }
  }
  for (const auto& e : entries) {
    const fs::path file = folder / fs::path(e.name);
    if (!fs::is_regular_file(file, ec)) {
      return Refused(state, Ru("файла ") + e.name + Ru(" из списка сумм нет в папке дистрибутива"));
    }
    Sha256::Digest digest{};
    try {
      digest = HashFile(file);
    } catch (const std::runtime_error& error) {
      return Refused(state, error.what());
    }
    if (digest != e.digest) return Refused(state, Ru("файл ") + e.name + Ru(" изменён после подписания"));
  }
  state.status = trusted ? SignatureStatus::kVerifiedTrusted : SignatureStatus::kVerifiedUntrusted;
  return state;
}

}  // namespace

SignatureState CheckDistributionSignature(const fs::path& folder, const std::vector<std::string>& filesRead,
                                          const TrustSettings& trust) {
  SignatureState state = Examine(folder, filesRead, trust);
  state.blocksInstallation = state.status == SignatureStatus::kRefused && trust.Enforced();
  return state;
}

std::vector<std::string> SignatureLogLines(const SignatureState& state) {
  std::vector<std::string> lines;
  const std::string signer =
      state.signerKeyId.empty() ? std::string() : Ru("Дистрибутив подписан ключом ") + state.signerKeyId + ".";
  switch (state.status) {
    case SignatureStatus::kUnsigned:
      return lines;
    case SignatureStatus::kVerifiedTrusted:
      lines.push_back(signer);
      lines.push_back(Ru("Подпись проверена: ключ доверенный, файлы дистрибутива совпадают со списком сумм."));
      lines.push_back(Ru("Доверенный комментарий: ") + CommentForLog(state.trustedComment));
      break;
    case SignatureStatus::kVerifiedUntrusted:
      lines.push_back(signer);
      lines.push_back(
          Ru("Ключ не входит в число доверенных: подпись не проверена, файлы дистрибутива совпадают со списком "
             "сумм."));
      break;
    case SignatureStatus::kRefused:
      if (!signer.empty()) lines.push_back(signer);
      lines.push_back((state.blocksInstallation ? Ru("Подпись дистрибутива не принята: ")
                                                : Ru("Подпись дистрибутива не прошла проверку: ")) +
                      state.reason);
      if (!state.blocksInstallation) {
        lines.push_back(Ru("Доверенные ключи не заданы: установка продолжается."));
      }
      break;
  }
  lines.emplace_back();
  return lines;
}

std::string SignatureSummary(const SignatureState& state) {
  const std::string key = Ru("ключ ") + state.signerKeyId;
  switch (state.status) {
    case SignatureStatus::kUnsigned:
      return Ru("Подпись дистрибутива: нет, дистрибутив не подписан.");
    case SignatureStatus::kVerifiedTrusted:
      return Ru("Подпись дистрибутива: ") + key + Ru(", проверена, ключ доверенный; доверенный комментарий: ") +
             CommentForLog(state.trustedComment);
    case SignatureStatus::kVerifiedUntrusted:
      return Ru("Подпись дистрибутива: ") + key +
             Ru(", ключ не входит в число доверенных, подпись не проверена; файлы совпадают со списком сумм.");
    case SignatureStatus::kRefused:
      return Ru("Подпись дистрибутива не принята: ") + state.reason +
             (state.signerKeyId.empty() ? std::string() : " (" + key + ")");
  }
  return {};
}

const char* SignatureStatusKey(SignatureStatus status) {
  switch (status) {
    case SignatureStatus::kUnsigned:
      return "unsigned";
    case SignatureStatus::kVerifiedTrusted:
      return "verified_trusted";
    case SignatureStatus::kVerifiedUntrusted:
      return "verified_untrusted";
    case SignatureStatus::kRefused:
      return "refused";
  }
  return "";
}

std::vector<std::string> FilesToSign(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const char* name : {"dorpack.dat", "licence.txt", "readme.txt"}) {
    if (fs::is_regular_file(folder / name, ec)) names.emplace_back(name);
  }
  std::vector<std::string> pictures;
  if (fs::is_directory(folder / "IMAGES", ec)) {
    for (const auto& entry : fs::directory_iterator(folder / "IMAGES", ec)) {
      if (entry.is_regular_file(ec)) pictures.push_back("IMAGES/" + entry.path().filename().string());
    }
  }
  std::sort(pictures.begin(), pictures.end());
  names.insert(names.end(), pictures.begin(), pictures.end());
  return names;
}

std::vector<std::string> SignDistribution(const fs::path& folder, const SecretKey& key,
                                          const std::string& trustedComment) {
  std::error_code ec;
  if (!fs::is_regular_file(folder / "dorpack.dat", ec)) {
    throw std::runtime_error(Ru("в папке нет файла дистрибутива dorpack.dat"));
  }
  const std::vector<std::string> names = FilesToSign(folder);
  std::vector<SumsEntry> entries;
  for (const auto& name : names) entries.push_back({name, HashFile(folder / fs::path(name))});
  const std::string sums = FormatSumsList(entries);
  const Signature signature = SignMessage(key, sums, trustedComment, "signature from dorpack secret key");
  WriteWhole(folder / kSumsFileName, sums);
  WriteWhole(folder / kSignatureFileName, FormatSignature(signature));
  return names;
}

std::string DefaultTrustedComment(const std::string& fileName) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return "timestamp:" + std::to_string(seconds) + "\tfile:" + fileName + "\thashed";
}

}  // namespace dorvik::signing
