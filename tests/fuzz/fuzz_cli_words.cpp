// The program's command-line word handling (options, help, dispatch,
// number words), through the same make_plan the program calls. Input:
// the arguments, separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Compiled in, so this target links only the library, as every target does.
#include "../../cli/cancel.cpp"
#include "../../cli/commands.cpp"
#include "../../cli/fields.cpp"
#include "../../cli/formats.cpp"
#include "../../cli/interrupt.cpp"
#include "../../cli/numbers.cpp"
#include "../../cli/output.cpp"
#include "../../cli/plan.cpp"
#include "../../cli/result_grid.cpp"
#include "../../cli/stream_output.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> args{"tarn"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            args.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) args.push_back(word);
    std::vector<const char *> argv;
    for (const auto &a : args) argv.push_back(a.c_str());

    tarn_cli::Plan plan = tarn_cli::make_plan(static_cast<int>(argv.size()), argv.data());
    // Whatever the plan, it must be consistent with what the program reads.
    switch (plan.step) {
        case tarn_cli::Step::Run: {
            if (plan.command == nullptr || plan.words.empty()) __builtin_trap();
            if (static_cast<int>(plan.words.size()) - 1 < plan.command->needed) __builtin_trap();
            const tarn_cli::Args a{plan.words.data(), static_cast<int>(plan.words.size())};
            for (const tarn_cli::NumberWord &n : plan.command->numbers)
                if (n.pos != 0) (void)a.number(n.pos, 0);
            (void)tarn_cli::usage_line(*plan.command);
            break;
        }
        case tarn_cli::Step::CommandHelp:
            if (plan.command == nullptr) __builtin_trap();
            (void)tarn_cli::usage_line(*plan.command);
            break;
        case tarn_cli::Step::UsageError:
            if (plan.error.empty() || plan.error.back() != '\n') __builtin_trap();
            break;
        case tarn_cli::Step::Unknown:
        case tarn_cli::Step::CommandList:
            if (plan.words.empty()) __builtin_trap();
            break;
        default:
            break;
    }
    return 0;
}
