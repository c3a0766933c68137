// A recursive-descent reading of the Installer's condition grammar.
// Precedence, loosest first: IMP, EQV, XOR, OR, AND, NOT, then a value on its
// own or two values and a comparison. A property or variable on its own is
// true when it is not empty (so a property set to "0" is true, as in the
// Installer); an integer literal or a state when it is not zero. Two
// integers compare as numbers (a property or variable whose whole value is
// a decimal integer counts as one), other values as text ('~' before the
// operator: ignoring ASCII case); an integer literal against text is never
// equal and never ordered.
#include "install/condition.h"
#include "platform/ascii_text.h"

#include <cstdint>
#include <optional>

namespace qltmsi::install {

namespace {

// A number when the text is one; `literal` for integer literals and states,
// whose truth is their number's.
struct Value {
    std::optional<int32_t> number;
    WideString text;
    bool literal = false;
};

std::optional<int32_t> asInteger(WideView text) {
    size_t i = 0;
    bool negative = !text.empty() && text[0] == WCHAR('-');
    if (negative)
        i = 1;
    if (i == text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < WCHAR('0') || text[i] > WCHAR('9'))
            return std::nullopt;
        value = value * 10 + (text[i] - WCHAR('0'));
        if (value > INT32_MAX + int64_t{1})
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

Value fromText(WideString text) {
    Value value;
    value.number = asInteger(text);
    value.text = std::move(text);
    return value;
}

Value fromNumber(int32_t number) {
    Value value;
    value.number = number;
    value.literal = true;
    return value;
}

enum class Op { kEq, kNe, kGt, kLt, kGe, kLe, kContains, kStarts, kEnds };

bool compareIntegers(Op op, int32_t a, int32_t b) {
    auto ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
    switch (op) {
        case Op::kEq: return a == b;
        case Op::kNe: return a != b;
        case Op::kGt: return a > b;
        case Op::kLt: return a < b;
        case Op::kGe: return a >= b;
        case Op::kLe: return a <= b;
        case Op::kContains: return (ua & ub) != 0;          // bits in common
        case Op::kStarts: return (ua >> 16) == ub;           // high word
        case Op::kEnds: return (ua & 0xFFFF) == ub;          // low word
    }
    return false;
}

bool compareStrings(Op op, WideString a, WideString b, bool ignoreCase) {
    if (ignoreCase) {
        a = LowerAscii(a);
        b = LowerAscii(b);
    }
    switch (op) {
        case Op::kEq: return a == b;
        case Op::kNe: return a != b;
        case Op::kGt: return a > b;
        case Op::kLt: return a < b;
        case Op::kGe: return a >= b;
        case Op::kLe: return a <= b;
        case Op::kContains: return a.find(b) != WideString::npos;
        case Op::kStarts: return a.compare(0, b.size(), b) == 0 && a.size() >= b.size();
        case Op::kEnds:
            return a.size() >= b.size() && a.compare(a.size() - b.size(), b.size(), b) == 0;
    }
    return false;
}

bool truth(const Value& value) {
    return value.literal ? value.number.value_or(0) != 0 : !value.text.empty();
}

class Parser {
  public:
    Parser(WideView text, const ConditionContext& context) : text_(text), context_(context) {}

    std::optional<bool> parse(std::string& error) {
        skipSpace();
        if (at_ == text_.size())
            return true;
        bool result = imp();
        skipSpace();
        if (failed_.empty() && at_ != text_.size())
            fail("unexpected text");
        if (!failed_.empty()) {
            error = failed_ + " at character " + std::to_string(at_ + 1);
            return std::nullopt;
        }
        return result;
    }

  private:
    void fail(const char* why) {
        if (failed_.empty())
            failed_ = why;
    }

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == WCHAR(' ') || text_[at_] == WCHAR('\t') ||
                                      text_[at_] == WCHAR('\r') || text_[at_] == WCHAR('\n')))
            ++at_;
    }

    static bool isNameStart(WCHAR c) {
        return (c >= WCHAR('A') && c <= WCHAR('Z')) || (c >= WCHAR('a') && c <= WCHAR('z')) ||
               c == WCHAR('_');
    }
    static bool isNameChar(WCHAR c) {
        return isNameStart(c) || (c >= WCHAR('0') && c <= WCHAR('9')) || c == WCHAR('.');
    }

    // A keyword, matched without regard to case and not as part of a name.
    bool keyword(const char* word) {
        skipSpace();
        size_t n = std::char_traits<char>::length(word);
        if (at_ + n > text_.size())
            return false;
        for (size_t i = 0; i < n; ++i)
            if (ToLowerAscii(text_[at_ + i]) != WCHAR(word[i] - 'A' + 'a'))
                return false;
        if (at_ + n < text_.size() && isNameChar(text_[at_ + n]))
            return false;
        at_ += n;
        return true;
    }

    bool imp() {
        bool left = eqv();
        while (keyword("IMP")) {
            bool right = eqv();
            left = !left || right;
        }
        return left;
    }
    bool eqv() {
        bool left = xorTerm();
        while (keyword("EQV"))
            left = left == xorTerm();
        return left;
    }
    bool xorTerm() {
        bool left = orTerm();
        while (keyword("XOR"))
            left = left != orTerm();
        return left;
    }
    bool orTerm() {
        bool left = andTerm();
        while (keyword("OR")) {
            bool right = andTerm();  // both sides are read, whatever the left gave
            left = left || right;
        }
        return left;
    }
    bool andTerm() {
        bool left = notTerm();
        while (keyword("AND")) {
            bool right = notTerm();
            left = left && right;
        }
        return left;
    }
    bool notTerm() {
        if (keyword("NOT"))
            return !notTerm();
        return primary();
    }

    bool primary() {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == WCHAR('(')) {
            ++at_;
            bool inner = imp();
            skipSpace();
            if (at_ < text_.size() && text_[at_] == WCHAR(')'))
                ++at_;
            else
                fail("missing ')'");
            return inner;
        }
        Value left = value();
        bool ignoreCase = false;
        std::optional<Op> op = comparison(ignoreCase);
        if (!op)
            return truth(left);
        Value right = value();
        if (left.number && right.number)
            return compareIntegers(*op, *left.number, *right.number);
        if (left.literal || right.literal)
            return *op == Op::kNe;  // an integer against a string
        return compareStrings(*op, left.text, right.text, ignoreCase);
    }

    std::optional<Op> comparison(bool& ignoreCase) {
        skipSpace();
        size_t start = at_;
        if (at_ < text_.size() && text_[at_] == WCHAR('~')) {
            ignoreCase = true;
            ++at_;
        }
        static const std::pair<const char*, Op> kOps[] = {
            {"><", Op::kContains}, {"<<", Op::kStarts}, {">>", Op::kEnds}, {"<>", Op::kNe},
            {">=", Op::kGe},       {"<=", Op::kLe},     {"=", Op::kEq},    {"<", Op::kLt},
            {">", Op::kGt}};
        for (const auto& [text, op] : kOps) {
            size_t n = std::char_traits<char>::length(text);
            bool match = at_ + n <= text_.size();
            for (size_t i = 0; match && i < n; ++i)
                match = text_[at_ + i] == WCHAR(text[i]);
            if (match) {
                at_ += n;
                return op;
            }
        }
        at_ = start;
        ignoreCase = false;
        return std::nullopt;
    }

    WideString name() {
        size_t start = at_;
        if (at_ < text_.size() && isNameStart(text_[at_]))
            while (at_ < text_.size() && isNameChar(text_[at_]))
                ++at_;
        if (start == at_)
            fail("a name is expected");
        return WideString(text_.substr(start, at_ - start));
    }

    Value value() {
        skipSpace();
        if (at_ == text_.size()) {
            fail("a value is expected");
            return Value{};
        }
        WCHAR c = text_[at_];
        if (c == WCHAR('"')) {
            size_t close = text_.find(WCHAR('"'), at_ + 1);
            if (close == WideView::npos) {
                fail("unterminated string");
                at_ = text_.size();
                return Value{};
            }
            Value literal;
            literal.text = WideString(text_.substr(at_ + 1, close - at_ - 1));
            at_ = close + 1;
            return literal;
        }
        if (c == WCHAR('-') || (c >= WCHAR('0') && c <= WCHAR('9'))) {
            size_t start = at_++;
            while (at_ < text_.size() && text_[at_] >= WCHAR('0') && text_[at_] <= WCHAR('9'))
                ++at_;
            auto number = asInteger(text_.substr(start, at_ - start));
            if (!number)
                fail("a number is expected");
            return fromNumber(number.value_or(0));
        }
        if (c == WCHAR('%')) {
            ++at_;
            return fromText(context_.environment(name()));
        }
        if (c == WCHAR('$') || c == WCHAR('?')) {
            ++at_;
            return fromNumber(context_.componentState(name(), c == WCHAR('?')));
        }
        if (c == WCHAR('&') || c == WCHAR('!')) {
            ++at_;
            return fromNumber(context_.featureState(name(), c == WCHAR('!')));
        }
        WideString property = name();
        for (const char* word : {"and", "or", "not", "xor", "eqv", "imp"})
            if (LowerAscii(property) == toWide(word))
                fail("a value is expected");
        return fromText(context_.property(property));
    }

    WideView text_;
    const ConditionContext& context_;
    size_t at_ = 0;
    std::string failed_;
};

}  // namespace

std::optional<bool> evaluateCondition(WideView condition, const ConditionContext& context,
                                      std::string& error) {
    return Parser(condition, context).parse(error);
}

}  // namespace qltmsi::install
