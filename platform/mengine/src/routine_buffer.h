// The routine buffer of one process: the lines that ZLOAD, ZINSERT,
// ZREMOVE, ZPRINT and ZSAVE work on, with the edit pointer.
#pragma once

#include <string>
#include <vector>

namespace mengine {

class RoutineBuffer {
 public:
  // Replaces the buffer with a routine's lines; the pointer goes after the
  // last line, so that ZINSERT appends.
  void Load(const std::string& name, std::vector<std::string> lines);
  // Argumentless ZREMOVE: empties the buffer; the pointer goes before line 1.
  void Clear();
  // ZREMOVE of lines first..last (1-based, inclusive); the pointer goes to
  // the line before the removed ones.
  void Remove(int first, int last);
  // ZINSERT after line `after` (1-based, 0 = before the first line); the
  // pointer moves to the inserted line.
  void InsertAfter(int after, std::string text);
  // ZINSERT at the pointer.
  void Insert(std::string text) { InsertAfter(pointer_, std::move(text)); }

  const std::vector<std::string>& lines() const { return lines_; }
  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  int pointer() const { return pointer_; }

 private:
  std::string name_;
  std::vector<std::string> lines_;
  int pointer_ = 0;
};

}  // namespace mengine
