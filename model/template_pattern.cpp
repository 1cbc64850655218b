#include "model/template_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace tallix {
namespace {

std::string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (n < 0) return "PCRE2 error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

// UTF-8 throughout; a subject with invalid sequences is still searched.
constexpr std::uint32_t kCompileOptions = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;

}  // namespace

struct CompiledPattern::Impl {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_match_data* data = nullptr;
    ~Impl() {
        pcre2_match_data_free(data);
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }
};

CompiledPattern::~CompiledPattern() = default;

std::unique_ptr<CompiledPattern> CompiledPattern::Compile(std::string_view pattern, bool ignoreCase,
                                                          PatternError& error) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    std::uint32_t options = kCompileOptions | (ignoreCase ? PCRE2_CASELESS : 0u);
    pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()),
                                         pattern.size(), options, &code, &offset, nullptr);
    if (!compiled) {
        error.offset = offset;
        error.message = ErrorText(code);
        return nullptr;
    }
    std::unique_ptr<CompiledPattern> result(new CompiledPattern);
    result->m_impl = std::make_unique<Impl>();
    Impl& impl = *result->m_impl;
    impl.code = compiled;
    // Without JIT (not built in, or no executable memory) the interpreter searches.
    pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
    impl.context = pcre2_match_context_create(nullptr);
    impl.data = pcre2_match_data_create_from_pattern(compiled, nullptr);
    if (!impl.context || !impl.data) {
        error.offset = 0;
        error.message = "out of memory";
        return nullptr;
    }
    pcre2_set_match_limit(impl.context, kPatternMatchLimit);
    pcre2_set_depth_limit(impl.context, kPatternDepthLimit);
    pcre2_set_heap_limit(impl.context, kPatternHeapLimitKiB);
    return result;
}

CompiledPattern::Match CompiledPattern::Find(std::string_view text, std::size_t from) const {
    Match m;
    if (from > text.size()) return m;
    const Impl& impl = *m_impl;
    const int rc = pcre2_match(impl.code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                               from, 0, impl.data, impl.context);
    if (rc == PCRE2_ERROR_NOMATCH) return m;
    if (rc < 0) {
        const bool limit = rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
                           rc == PCRE2_ERROR_NOMEMORY;
        m.outcome = limit ? Outcome::LimitHit : Outcome::Failed;
        m.problem = ErrorText(rc);
        return m;
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(impl.data);
    m.outcome = Outcome::Found;
    m.matchStart = ovector[0];
    m.matchEnd = ovector[1];
    // The first capture group when the pattern has one (an unset group gives an empty value
    // where the match is), else the whole match.
    std::uint32_t groups = 0;
    pcre2_pattern_info(impl.code, PCRE2_INFO_CAPTURECOUNT, &groups);
    if (groups >= 1 && rc >= 2 && ovector[2] != PCRE2_UNSET) {
        m.valueStart = ovector[2];
        m.valueLength = ovector[3] - ovector[2];
    } else if (groups >= 1) {
        m.valueStart = ovector[0];
        m.valueLength = 0;
    } else {
        m.valueStart = ovector[0];
        m.valueLength = ovector[1] - ovector[0];
    }
    return m;
}

std::optional<PatternError> CheckPattern(std::string_view pattern) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()),
                                         pattern.size(), kCompileOptions, &code, &offset, nullptr);
    if (compiled) {
        pcre2_code_free(compiled);
        return std::nullopt;
    }
    return PatternError{offset, ErrorText(code)};
}

}  // namespace tallix
