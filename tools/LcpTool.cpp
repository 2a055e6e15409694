#include "tools/LcpTool.h"

#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"
#include "physics/ScratchArena.h"
#include "tools/ToolInput.h"
#include "tools/ToolStatus.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace quarn {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsSpace(text[at])) {
            ++at;
        }
        const size_t start = at;
        while (at < text.size() && !IsSpace(text[at])) {
            ++at;
        }
        if (at > start) {
            words.push_back(text.substr(start, at - start));
        }
    }
    return words;
}

// The words of the file in order, each taken whole or refused with the section it belongs to.
class WordReader {
public:
    WordReader(std::string name, std::vector<std::string_view> words)
        : name_(std::move(name)), words_(std::move(words)) {}

    bool Integer(const char* section, int& value, std::string& reason) {
        std::string_view word;
        if (!Next(section, word, reason)) {
            return false;
        }
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (error != std::errc() || end != word.data() + word.size()) {
            return Refuse(reason, section, word, "is not a whole number");
        }
        return true;
    }

    // A finite float; with `bound`, "inf" and "-inf" stand for the solver's infinity.
    bool Number(const char* section, bool bound, float& value, std::string& reason) {
        std::string_view word;
        if (!Next(section, word, reason)) {
            return false;
        }
        if (bound && (word == "inf" || word == "-inf")) {
            value = word == "inf" ? LCPInfinity : -LCPInfinity;
            return true;
        }
        std::string_view digits = word;
        if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') {
            digits.remove_prefix(1);
        }
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc::result_out_of_range) {
            return Refuse(reason, section, word, "is out of the range of a float");
        }
        if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
            return Refuse(reason, section, word, "is not a finite number");
        }
        return true;
    }

    bool Peek(std::string_view word) const {
        return next_ < words_.size() && words_[next_] == word;
    }
    void Skip() { ++next_; }

    bool AtEnd(std::string& reason) const {
        if (next_ < words_.size()) {
            reason =
                name_ + ": \"" + std::string(words_[next_]) + "\" follows the end of the problem";
            return false;
        }
        return true;
    }

    size_t Remaining() const { return words_.size() - next_; }

private:
    bool Next(const char* section, std::string_view& word, std::string& reason) {
        if (next_ >= words_.size()) {
            reason = name_ + ": ends before " + section + " is complete";
            return false;
        }
        word = words_[next_++];
        return true;
    }

    bool Refuse(std::string& reason, const char* section, std::string_view word,
                const char* what) const {
        reason = name_ + ": \"" + std::string(word) + "\" in " + section + " " + what;
        return false;
    }

    std::string name_;
    std::vector<std::string_view> words_;
    size_t next_ = 0;
};

struct LcpInput {
    int n = 0;
    int nub = 0;
    std::vector<float> a; // padded rows
    std::vector<float> b, lo, hi;
    std::vector<int> findex; // empty: none
};

bool ReadProblem(const std::string& name, std::string_view text, LcpInput& problem,
                 std::string& reason) {
    WordReader reader(name, SplitWords(text));
    int& n = problem.n;
    if (!reader.Integer("n", n, reason) || !reader.Integer("nub", problem.nub, reason)) {
        return false;
    }
    if (n < 1) {
        reason = name + ": n is " + std::to_string(n) + ", but a problem has at least one row";
        return false;
    }
    if (problem.nub < 0 || problem.nub > n) {
        reason = name + ": nub is " + std::to_string(problem.nub) + ", not 0 to n (" +
                 std::to_string(n) + ")";
        return false;
    }
    // The file must hold the n x n matrix before room is made for it.
    const uint64_t size = static_cast<uint64_t>(n);
    if (size * size > reader.Remaining()) {
        reason = name + ": ends before A is complete";
        return false;
    }
    const int nskip = MatrixStride(n);
    problem.a.assign(static_cast<size_t>(n) * nskip, 0.0f);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (!reader.Number("A", false, problem.a[static_cast<size_t>(i) * nskip + j], reason)) {
                return false;
            }
        }
    }
    const std::pair<const char*, std::vector<float>*> vectors[] = {
        {"b", &problem.b}, {"lo", &problem.lo}, {"hi", &problem.hi}};
    for (const auto& [section, values] : vectors) {
        values->assign(n, 0.0f);
        for (float& value : *values) {
            if (!reader.Number(section, section != std::string_view("b"), value, reason)) {
                return false;
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        if (!(problem.lo[i] <= 0.0f && problem.hi[i] >= 0.0f)) {
            reason = name + ": row " + std::to_string(i) + "'s bounds do not hold 0 (lo " +
                     "must not be above 0, hi not below it)";
            return false;
        }
    }
    if (reader.Peek("none")) {
        reader.Skip();
    } else {
        problem.findex.assign(n, -1);
        for (int i = 0; i < n; ++i) {
            int& index = problem.findex[i];
            if (!reader.Integer("findex", index, reason)) {
                return false;
            }
            if (index < -1 || index >= n) {
                reason = name + ": row " + std::to_string(i) + "'s findex " +
                         std::to_string(index) + " names no row (-1 for none, else 0 to " +
                         std::to_string(n - 1) + ")";
                return false;
            }
        }
    }
    return reader.AtEnd(reason);
}

} // namespace

bool SolveLcpText(const std::string& name, std::string_view text, std::string& out,
                  std::string& reason) {
    LcpInput problem;
    if (!ReadProblem(name, text, problem, reason)) {
        return false;
    }
    const int n = problem.n;
    std::vector<float> x(n);
    std::vector<float> w(n);
    ScratchArena scratch;
    SolveLCP(n, problem.a.data(), x.data(), problem.b.data(), w.data(), problem.nub,
             problem.lo.data(), problem.hi.data(),
             problem.findex.empty() ? nullptr : problem.findex.data(), scratch);
    out.clear();
    char line[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "%.9g %.9g\n", double(x[i]), double(w[i]));
        out += line;
    }
    std::snprintf(line, sizeof line, "failures %d\n", LCPStepFailures);
    out += line;
    return true;
}

int RunLcpTool(char** arguments, std::string& reason) {
    const char* path = arguments[0];
    std::vector<uint8_t> bytes;
    std::string out;
    if (!ReadToolInput(path, bytes, reason) ||
        !SolveLcpText(path,
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      out, reason)) {
        return ExitFailed;
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
