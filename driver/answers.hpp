// The three answers typed at the prompts: the data file name, the model
// order and the initial estimate.  Each is one word (white space ends it);
// a file name typed with a space in it is cut at the space, and the rest is
// what the next prompt reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The data file name must fit a 40-byte buffer with its terminator; a
// letter outside ASCII takes two or more bytes.
inline constexpr std::size_t longest_file_name = 39;

// Model orders beyond this are refused: an evaluation costs 36p^2
// multiply-adds per observation and interval, and p = 100 already means 600
// latent states per interval.
inline constexpr int largest_model_order = 100;

// Flushes standard output, then reads the next word from standard input.
// Returns nothing at end of input.
// A word longer than `longest_word` characters comes back cut to that length
// plus one character, so that callers can tell it was too long.
inline constexpr std::size_t longest_word = 4096;
std::optional<std::string> read_answer_word();

// A whole number from 1 to largest_model_order, written in full (no trailing
// characters), or nothing.
std::optional<int> parse_model_order(std::string_view word);

// A finite, non-negative real number written in full, or nothing; a zero
// comes back as +0 whatever sign it was typed with.  The
// parameters are expected numbers of events, so a negative start has no
// meaning and would make the Poisson terms negative.
std::optional<double> parse_initial_estimate(std::string_view word);
