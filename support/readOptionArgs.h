// The option arguments shared by the commands: after the path arguments, in order,
//  - an argument that begins with "---" is a comment and skipped whole;
//  - another argument that begins with "-" is a cluster: every character after the dash is an
//    option letter ("-FT" is F and T, a lone "-" holds none, a second dash is an unknown letter);
//  - an empty argument is skipped;
//  - any other argument is faulty.
#pragma once

// The exit code of a faulty option argument.
constexpr int kOptionError = 8;

// Called for each accepted letter, in the order the letters stand.
using OptionLetterFn = void (*)(char letter, void* context);

// Reads argv[first] to argv[argc - 1]; letters holds the accepted option letters. Returns 0 when
// every argument is accepted. Otherwise writes "ERROR unknown option %c in argument:%s" or
// "ERROR-faulty-argument:%s" to standard error, without a line end, and returns 8; the letters
// before the faulty one have been applied.
int readOptionArgs(int argc, char** argv, int first, const char* letters, OptionLetterFn apply,
                   void* context);
