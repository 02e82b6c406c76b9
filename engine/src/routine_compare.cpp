#include "engine/routine_compare.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace dorvik {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// One call: "=" equal, "~" and the server's line sums when they differ, "+"
// no such routine, "-1" / "-0" an object without source that does / does not
// load. The loop runs once past the last line to give its answer there.
const std::string kCompareLine =
    "s %dvN=P1,%dvC=$G(^ROUTINE(%dvN,0,0)),%dvH=\"\" f %dvI=1:1:%dvC+1 s:%dvI'>%dvC "
    "%dvH=%dvH_$ZCRC($G(^ROUTINE(%dvN,0,%dvI)),7)_\",\" s:%dvI>%dvC "
    "P1=$S($D(^ROUTINE(%dvN,0,0)):$S($ZCRC(%dvH,7)=P2:\"=\",1:\"~\"_%dvH),$D(^rOBJ(%dvN)):\"-\"_($T(+0^@%dvN)=%dvN),"
    "1:\"+\")";

std::vector<std::uint32_t> ParseSums(std::string_view text) {
  std::vector<std::uint32_t> sums;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) throw ServerCallError("an unreadable answer: line sums without \",\"");
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + comma, value);
    if (error != std::errc() || end != text.data() + comma) {
      throw ServerCallError("an unreadable answer: a line sum that is not a number");
    }
    sums.push_back(value);
    start = comma + 1;
  }
  return sums;
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t seed) {
  std::uint32_t c = seed ^ 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = kCrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string LineSums(const std::vector<std::string>& lines) {
  std::string sums;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    sums += std::to_string(Crc32(lines[i]));
    sums += ',';
  }
  return sums;
}

void RunServerLine(ServerLink& link, const std::string& code) {
  link.ClearError();
  link.RunCode(code);
  if (link.ErrorCode() != 0) throw ServerCallError(link.ErrorText());
}

RoutineComparison CompareRoutine(ServerLink& link, const std::vector<std::string>& lines) {
  const std::string sums = LineSums(lines);
  link.SetParam(1, lines.at(0));
  link.SetParam(2, std::to_string(Crc32(sums)));
  RunServerLine(link, kCompareLine);
  const std::string answer = link.GetParam(1);

  RoutineComparison c;
  if (answer == "=") {
    c.state = RoutineState::Unchanged;
  } else if (answer == "+") {
    c.state = RoutineState::New;
  } else if (answer == "-1") {
    c.state = RoutineState::WithoutSource;
  } else if (answer == "-0") {
    c.state = RoutineState::DoesNotLoad;
  } else if (!answer.empty() && answer[0] == '~') {
    c.state = RoutineState::Changed;
    CountLineChanges(ParseSums(std::string_view(answer).substr(1)), ParseSums(sums), c.added, c.removed);
  } else {
    throw ServerCallError("an unreadable answer to the comparison of " + lines[0] + ": \"" + answer + "\"");
  }
  return c;
}

void CountLineChanges(const std::vector<std::uint32_t>& before, const std::vector<std::uint32_t>& after, int& added,
                      int& removed) {
  // Common ends first: most changes touch a few lines of a long routine.
  std::size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  const std::size_t n = before.size() - head - tail;
  const std::size_t m = after.size() - head - tail;
  // Longest common subsequence of the middles, one row at a time.
  std::vector<std::size_t> row(m + 1, 0), next(m + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < m; ++j) {
      next[j + 1] = before[head + i] == after[head + j] ? row[j] + 1 : std::max(row[j + 1], next[j]);
    }
    std::swap(row, next);
  }
  const std::size_t common = row[m];
  added = static_cast<int>(m - common);
  removed = static_cast<int>(n - common);
}

}  // namespace dorvik
