// Client-side helpers the tests share: the installer's routine upload over
// the link (fill a local array chunk by chunk, then one save line), the
// post-action routine the installer generates, and code page 866 text.
#pragma once

#include <string>
#include <vector>

#include "mlink/client.h"

namespace mserver_test {

// UTF-8 text in code page 866 (the server's code page), through iconv.
std::string Cp866(const std::string& utf8);

// The save line: kills ^rMAC(name), loads every CR LF separated part of
// every node of the local array `text` into the routine buffer, saves it.
std::string SaveLine(const std::string& name);

// Uploads lines[1..] under the name lines[0] exactly as the installer does:
// "n text,i,k,q", one "s text(P1)=P2" per chunk of at most `chunkLimit`
// bytes (plus one line), the save line, "k text", and "k ^ROUTINE(P1)"
// unless sources are kept. Answers the first error text, "" when none.
std::string UploadRoutine(mlink::Client& client, const std::string& ns, const std::vector<std::string>& lines,
                          bool keepSources, std::size_t chunkLimit = 32700, int* chunksSent = nullptr);

// The post-action routine "dorvik" for the given labels and descriptions
// (element 0 is the routine name).
std::vector<std::string> PostActionRoutine(const std::vector<std::string>& labels,
                                           const std::vector<std::string>& descriptions);

}  // namespace mserver_test
