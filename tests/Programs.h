#pragma once

// The outside programs the tests run, as scripts/programs lists them with their Debian packages.

#include <optional>
#include <string>
#include <vector>

namespace testing::programs {

// The programs a shell command runs: the first word of each command in it, in pipelines, lists and
// command substitutions alike, past variable assignments and `timeout DURATION`. Nothing inside
// single quotes starts a command.
std::vector<std::string> ofCommand(const std::string& command);

// What is wrong with running `command` here, or nothing: a program it runs that the list does not
// name ("PROGRAM is not listed in scripts/programs"), one the list keeps for root's rights, which no
// test has, or one that is not on the PATH ("missing PROGRAM (package PACKAGE)").
std::optional<std::string> problem(const std::string& command);

// Throws std::runtime_error with the problem of `command`, if it has one: the test fails at once,
// naming the program, rather than waiting for output that never comes.
void require(const std::string& command);

// Where the PATH finds the program, which must be one `require` lets run.
std::string path(const std::string& program);

}  // namespace testing::programs
