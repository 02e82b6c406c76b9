#include "distribution/damage_texts.h"

#include "distribution/codepage.h"

namespace dorvik::damage {

namespace {

std::string N(std::int64_t n) { return std::to_string(n); }

}  // namespace

std::string Cut(std::int64_t fileSize) {
  return Ru("файл обрывается на смещении ") + N(fileSize) + Ru(": у последнего поля или записи нет разделителя");
}

std::string EndsBefore(std::int64_t offset, std::string_view what) {
  return Ru("файл обрывается на смещении ") + N(offset) + Ru(", где должна начинаться запись: ") + Ru(what);
}

std::string FieldCut(std::int64_t fileSize, std::string_view field) {
  return Ru("файл кончается на смещении ") + N(fileSize) + Ru(", поле «") + Ru(field) + Ru("» не дописано");
}

std::string NoPassword(std::int64_t offset) { return Ru("нет пароля исходных текстов на смещении ") + N(offset); }

std::string EmptyHeaderField(std::string_view field, std::int64_t offset) {
  return Ru("пустое поле «") + Ru(field) + Ru("» на смещении ") + N(offset);
}

std::string ZeroByte(std::int64_t offset) { return Ru("нулевой байт на смещении ") + N(offset); }

std::string Oversize(std::size_t limit) {
  return Ru("запись длиннее ") + std::to_string(limit) + Ru(" байт");
}

std::string LineCutOff(std::string_view routine, std::size_t bytes) {
  return Ru("программа ") + std::string(routine) + ": " + std::to_string(bytes) +
         Ru(" байт после конца её последней строки (строка оборвана)");
}

std::string MarkerUnreadable(std::string_view why) {
  return Ru("отметка целостности не читается (") + Ru(why) + ")";
}

std::string SealedCut(std::int64_t fileSize, std::int64_t expectedSize, std::int64_t routines,
                      std::int64_t expectedRoutines, std::int64_t checkRoutines, std::int64_t expectedCheckRoutines) {
  return Ru("файл обрывается на смещении ") + N(fileSize) + Ru(" из ") + N(expectedSize) + Ru(" байт: целы программ ") +
         N(routines) + Ru(" из ") + N(expectedRoutines) + Ru(" и программ проверки ") + N(checkRoutines) + Ru(" из ") +
         N(expectedCheckRoutines);
}

std::string CountsChanged(std::int64_t routines, std::int64_t expectedRoutines, std::int64_t checkRoutines,
                          std::int64_t expectedCheckRoutines) {
  return Ru("программ ") + N(routines) + Ru(" из ") + N(expectedRoutines) + Ru(", программ проверки ") +
         N(checkRoutines) + Ru(" из ") + N(expectedCheckRoutines) + Ru(": содержимое изменено после упаковки");
}

std::string SizeChanged(std::int64_t delta) {
  return Ru("содержимое изменено после упаковки: на ") + N(delta > 0 ? delta : -delta) +
         (delta > 0 ? Ru(" байт больше упакованного") : Ru(" байт меньше упакованного"));
}

std::string DigestChanged() {
  return Ru("содержимое изменено после упаковки: его сумма SHA-256 не совпадает с отметкой целостности");
}

std::string KeyChanged() {
  return Ru("ключ файла данных изменён после упаковки: отметка целостности читается только с другим ключом");
}

std::string PostActionWithoutPair() { return Ru("в последействии нет разделителя «#»"); }

std::string PostActionUnfit(int number) {
  return Ru("последействие ") + std::to_string(number) + Ru(" нельзя выполнить (причина — в протоколе установки)");
}

std::string CheckLabelNotEntry() { return Ru("метка проверки не является ссылкой на точку входа"); }

std::string RoutineWithoutName() {
  return Ru("запись программы без правильного имени программы (имя — в протоколе установки)");
}

std::string HeaderUnreadable() { return Ru("заголовок файла данных не читается"); }

}  // namespace dorvik::damage
