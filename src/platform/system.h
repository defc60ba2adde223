#pragma once
// Clock, local hour, random numbers and the desktop's program launching.
// Tick, hour and random are injectable so tests get exact results.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Milliseconds since some fixed moment, wrapping at 2^32 like the desktop's tick counter.
std::uint32_t GetTickCount();
// Hour of the local time, 0..23.
int localHour();
// A uniformly drawn integer from 0 to n-1 (0 when n <= 0).
int Random(int n);

// Replace the sources (an empty function restores the real one).
void setTickSource(std::function<std::uint32_t()> fn);
void setHourSource(std::function<int()> fn);
void setRandomSource(std::function<int(int)> fn);

// Starts a program without a shell; answers whether it started.
bool startProgram(const std::string& program, const std::vector<std::string>& args);
// Opens a web address in the user's browser.
bool openUrl(const std::string& url);
// There is no system registry here: every lookup answers "not found".
bool registryReadString(const std::string& key, const std::string& value, std::string& out);

} // namespace platform
