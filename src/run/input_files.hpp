#pragma once
// read_input_files: dados1.ent, then MG2D_000.ent (run_mode 1) or SG2D_000.ent, from the working
// directory, each opened in the editor first (when enabled). Fills state.settings, records the
// line of every setting in state.setting_sources, validates the values the program cannot run
// with, and allocates state.stats.norm_history (max_iterations + 1 entries, zero-filled).
//
// Each file is described once, as a table of its values (kModeFile and the two parameter files
// below, defined in input_files.cpp); one routine reads every file from its table, and the error
// messages, the recorded sources and the list of settings that other outputs print all take the
// setting names from there.

#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "state/problem_state.hpp"

namespace advdiff::run {

// Throws RunError(file, line, setting, message) for every unreadable file or value and for every
// rejected value; nothing is created or written. With `strict`, a code that selects nothing
// (InputSetting::unlisted) is rejected too, with the list of the accepted codes.
void read_input_files(ProblemState& state, bool edit, bool strict = false);

// What a line of an input file holds, and where its value goes.
struct TitleLine {};     // a line skipped whatever it holds
struct UnusedInteger {}; // an integer that is read (so it must be one) and not used
using SettingField = std::variant<TitleLine, UnusedInteger, int SimulationSettings::*, double SimulationSettings::*,
                                  std::string SimulationSettings::*>;

// A further check of a value once the whole file is read; throws RunError naming `setting`
// (or the setting the failure concerns).
using SettingCheck = void (*)(const ProblemState& state, const char* setting);

constexpr int kNoLowerBound = -2147483647 - 1;
constexpr int kNoUpperBound = 2147483647;

// A code a coded setting accepts, and what it selects.
struct SettingCode {
    int value;
    const char* meaning;
};

// What a coded setting does with a code its list does not hold.
enum class UnlistedCode {
    not_coded,        // the setting is not a code
    refused,          // the program refuses it (a check of the row does)
    selects_nothing,  // accepted and selects nothing; refused by --strict
    rotating_flow,    // problem_kind: selects the rotating flow, as 2 does; refused by --strict
};

// When the codes of a setting matter (flow_angle and peclet_code only for some cases).
struct Relevance {
    bool (*holds)(const SimulationSettings&) = nullptr;  // null: always
    const char* text = nullptr;                          // "problem_kind 1"
};

// One value of an input file: how it is read, checked and described. Values are read in the order
// of the table; the checks run in the same order after the last value, so that the first bad line
// is the one reported. The description (meaning, codes) is what --describe-inputs prints and the
// manual page of the input files is made from.
struct InputSetting {
    int position = 0;               // the value's place in its file (blank lines not counted)
    const char* name;               // as error messages and other outputs name it
    SettingField field;
    int at_least = kNoLowerBound;   // integers: the smallest value the program can run with
    int at_most = kNoUpperBound;    // integers: the largest (a check of the row enforces it)
    SettingCheck check = nullptr;   // run after the lower bound
    const char* meaning = "";       // one or two sentences for the user
    std::span<const SettingCode> codes = {};  // the codes that select something
    UnlistedCode unlisted = UnlistedCode::not_coded;
    Relevance relevant = {};        // when the codes matter
};

struct InputFile {
    const char* name;
    const char* read_when;  // "always", "run_mode 1", "run_mode 2"
    std::span<const InputSetting> settings;
};

// dados1.ent, which chooses the mode, and the parameter file of each mode.
extern const InputFile kModeFile;
extern const InputFile kMultigridFile;
extern const InputFile kSingleGridFile;

// The parameter file a run of `run_mode` reads: MG2D_000.ent for 1, SG2D_000.ent otherwise.
const InputFile& parameter_file(int run_mode);

// Calls visit(name, value) for every setting the run's input files gave (run_mode first, then the
// parameter file's settings in file order; title and unused values left out). `value` is an int,
// a double or the report name as a std::string (35 characters, blank-padded).
template <class Visitor>
void for_each_setting(const SimulationSettings& settings, Visitor&& visit) {
    for (const InputFile* file : {&kModeFile, &parameter_file(settings.run_mode)}) {
        for (const InputSetting& row : file->settings) {
            std::visit(
                [&](auto field) {
                    if constexpr (std::is_member_object_pointer_v<decltype(field)>)
                        visit(std::string_view(row.name), settings.*field);
                },
                row.field);
        }
    }
}

}  // namespace advdiff::run
