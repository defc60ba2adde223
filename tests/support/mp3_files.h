#pragma once
// Real MP3 files for the tests, made by tests/peers/make_mp3.py from a
// generated tone (sox, lame, twolame): the verifier's corpus, and single
// files a test serves or checks.

#include <string>
#include <vector>

namespace testsupport {

// The directory of the corpus (make_mp3.py corpus: the names and what each
// file is are listed there). Made by the first test program of a run that asks
// for it (the others wait for it) and kept in the build tree until the
// generator changes. Empty, with a test failure, when it could not be made.
std::string mp3Corpus();

// Makes the MP3 file `out` from a tone: make_mp3.py tone OUT ARGS... (for
// example {"--seconds", "5", "--title", "Night Train", "--artist", "The Locals"}).
bool makeMp3(const std::string& out, const std::vector<std::string>& args = {});

} // namespace testsupport
