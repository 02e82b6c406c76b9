// The command line's own texts, in one place: usage errors, the help, and
// the messages of the password and answers files. Every function answers
// code page 1251, shown on the terminal through LocaleText. What the user
// typed (option values, file names) comes in the locale's encoding and is
// taken over into 1251; a character 1251 cannot hold becomes "?".
#pragma once

#include <string>

namespace dorvik::cli::texts {

// A value or a file name the user typed, in code page 1251.
std::string Typed(const std::string& localText);

std::string NeedsValue(const std::string& option);
std::string TakesNoValue(const std::string& option);
std::string NeedsPositive(const std::string& option, const std::string& value);
std::string VismOnlyOnWindows();
std::string LinkNeedsKind(const std::string& value);
std::string NeedsName(const std::string& option);
std::string NeedsFileName(const std::string& option);
std::string UnknownArgument(const std::string& argument);
std::string ExcludeEachOther(const std::string& first, const std::string& second);
std::string OnlyWithKeepSources(const std::string& option);
std::string OnlyWithPlan(const std::string& option);
std::string OnlyWithBackups(const std::string& option);
std::string OnlyWithInstallation(const std::string& option);
std::string OnlyWithInstallationOrRollback(const std::string& option);
std::string RollbackOnFailureNeedsBackup();
std::string NeedsBackupNumber(const std::string& option, const std::string& value);
std::string ServerNeedsAddress(const std::string& value);
std::string PortOutOfRange(const std::string& value);

// The line after a usage error.
std::string TryHelp(const std::string& program);
std::string KeepSourcesNeedsPassword();
std::string ArgumentNotConvertible(const std::string& why);
std::string CurrentFolderUnreadable(const std::string& why);
// Said when Ctrl-C pressed three times ends the program.
std::string Interrupted();

std::string PasswordFileUnopenable(const std::string& file, const std::string& why);
std::string PasswordFileUnreadable(const std::string& file);
std::string PasswordFileEmpty(const std::string& file);
std::string PasswordTooLong(const std::string& file);

std::string AnswersFileUnopenable(const std::string& file);
std::string AnswersFileUnreadable(const std::string& file);
std::string AnswerNotConvertible(const std::string& file, int line, const std::string& why);

// The whole --help text.
std::string HelpText(const std::string& program);

}  // namespace dorvik::cli::texts
