// interval-fit's command line.  The program is a dialogue on standard input
// and takes no arguments; like every command-line tool it answers --help
// and --version, and refuses anything else with a usage line.
#pragma once

enum class FitCommand { run_dialogue, show_help, show_version, refuse };

// What the arguments ask for: no argument runs the dialogue, a single
// --help or --version shows that, anything else is refused.
FitCommand read_fit_command_line(int argc, const char* const* argv);

// Carries out a command other than run_dialogue and returns the exit status:
// 0 for the help and the version on standard output, 2 for a refusal (one
// usage line on standard error), 1 when standard output could not be
// written.
int answer_fit_command_line(FitCommand command);
