// Tokenizer and recursive-descent parser for Windows Installer SQL.
#include <algorithm>
#include <cctype>
#include <optional>

#include "column_type.h"
#include "sql.h"

namespace winsys::msi::sql {
namespace {

enum class Tok { End, Word, Quoted, String, Integer, Symbol, Error };

// A token's text is a view into the statement, which outlives the parse.
struct Token {
    Tok kind = Tok::End;
    std::u16string_view text;
};

// Keywords match in any case (ASCII letters only, as the engine reads them).
bool sameWord(std::u16string_view word, std::u16string_view upper) {
    if (word.size() != upper.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char16_t c = word[i];
        if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
        if (c != upper[i]) return false;
    }
    return true;
}

bool isWordChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c >= 0x80;
}

std::vector<Token> tokenize(std::u16string_view s) {
    std::vector<Token> out;
    out.reserve(32);  // most statements: one allocation
    size_t i = 0;
    while (true) {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\r' || s[i] == u'\n')) ++i;
        Token t;
        if (i >= s.size()) {
            out.push_back(t);
            return out;
        }
        char16_t c = s[i];
        if (c == u'`' || c == u'\'') {
            size_t end = s.find(c, i + 1);
            if (end == std::u16string_view::npos) {
                t.kind = Tok::Error;
                out.push_back(t);
                return out;
            }
            t.kind = c == u'`' ? Tok::Quoted : Tok::String;
            t.text = s.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (c >= u'0' && c <= u'9') {
            size_t j = i;
            while (j < s.size() && s[j] >= u'0' && s[j] <= u'9') ++j;
            if (j < s.size() && isWordChar(s[j])) {
                while (j < s.size() && isWordChar(s[j])) ++j;
                t.kind = Tok::Word;
            } else {
                t.kind = Tok::Integer;
            }
            t.text = s.substr(i, j - i);
            i = j;
        } else if (isWordChar(c)) {
            size_t j = i;
            while (j < s.size() && isWordChar(s[j])) ++j;
            t.kind = Tok::Word;
            t.text = s.substr(i, j - i);
            i = j;
        } else {
            t.kind = Tok::Symbol;
            if ((c == u'<' || c == u'>') && i + 1 < s.size() && (s[i + 1] == u'=' || (c == u'<' && s[i + 1] == u'>'))) {
                t.text = s.substr(i, 2);
                i += 2;
            } else if (std::u16string_view(u"=<>(),*?.-").find(c) != std::u16string_view::npos) {
                t.text = s.substr(i, 1);
                ++i;
            } else {
                t.kind = Tok::Error;
                out.push_back(t);
                return out;
            }
        }
        out.push_back(t);
    }
}

constexpr std::u16string_view kKeywords[] = {
    u"ADD", u"ALTER", u"AND", u"BY", u"CHAR", u"CHARACTER", u"CREATE", u"DELETE", u"DISTINCT", u"DROP",
    u"FREE", u"FROM", u"HOLD", u"INSERT", u"INT", u"INTEGER", u"INTO", u"IS", u"KEY", u"LIKE",
    u"LOCALIZABLE", u"LONG", u"LONGCHAR", u"NOT", u"NULL", u"OBJECT", u"OR", u"ORDER", u"PRIMARY",
    u"SELECT", u"SET", u"SHORT", u"TABLE", u"TEMPORARY", u"UPDATE", u"VALUES", u"WHERE"};

bool isKeyword(std::u16string_view word) {
    return std::any_of(std::begin(kKeywords), std::end(kKeywords), [&](std::u16string_view kw) { return sameWord(word, kw); });
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    std::unique_ptr<Statement> statement() {
        for (const Token& tok : t_)
            if (tok.kind == Tok::Error) return nullptr;
        std::optional<Statement> s;
        if (accept(u"SELECT")) s = select();
        else if (accept(u"INSERT")) s = insert();
        else if (accept(u"UPDATE")) s = update();
        else if (accept(u"DELETE")) s = del();
        else if (accept(u"CREATE")) s = create();
        else if (accept(u"DROP")) s = drop();
        else if (accept(u"ALTER")) s = alter();
        if (!s || failed_ || peek().kind != Tok::End) return nullptr;
        return std::make_unique<Statement>(std::move(*s));
    }

    unsigned parameters() const { return parameters_; }

private:
    const Token& peek(size_t ahead = 0) const { return t_[std::min(pos_ + ahead, t_.size() - 1)]; }
    bool isKw(const Token& tok, std::u16string_view kw) const { return tok.kind == Tok::Word && sameWord(tok.text, kw); }
    bool accept(std::u16string_view kw) {
        if (isKw(peek(), kw)) { ++pos_; return true; }
        return false;
    }
    bool acceptSym(std::u16string_view sym) {
        if (peek().kind == Tok::Symbol && peek().text == sym) { ++pos_; return true; }
        return false;
    }
    void expect(std::u16string_view kw) { if (!accept(kw)) failed_ = true; }
    void expectSym(std::u16string_view sym) { if (!acceptSym(sym)) failed_ = true; }

    std::u16string identifier() {
        const Token& tok = peek();
        if (tok.kind == Tok::Quoted && !tok.text.empty()) { ++pos_; return std::u16string(tok.text); }
        if (tok.kind == Tok::Word && !isKeyword(tok.text) && !(tok.text[0] >= u'0' && tok.text[0] <= u'9')) {
            ++pos_;
            return std::u16string(tok.text);
        }
        failed_ = true;
        return {};
    }

    ColumnRef columnRef() {
        ColumnRef c;
        c.column = identifier();
        if (acceptSym(u".")) {
            c.table = std::move(c.column);
            c.column = identifier();
        }
        return c;
    }

    bool integer(int32_t* out) {
        bool negative = acceptSym(u"-");
        if (peek().kind != Tok::Integer) { failed_ = true; return false; }
        int64_t v = 0;
        for (char16_t ch : peek().text) {
            v = v * 10 + (ch - u'0');
            if (v > 0x80000000LL) { failed_ = true; return false; }
        }
        ++pos_;
        if (negative) v = -v;
        if (v > 0x7FFFFFFF) { failed_ = true; return false; }
        *out = int32_t(v);
        return true;
    }

    Operand value(bool allowColumn) {
        Operand o;
        const Token& tok = peek();
        if (tok.kind == Tok::String) {
            o.kind = Operand::Kind::String;
            o.text = tok.text;
            ++pos_;
        } else if (tok.kind == Tok::Integer || (tok.kind == Tok::Symbol && tok.text == u"-")) {
            o.kind = Operand::Kind::Integer;
            integer(&o.integer);
        } else if (tok.kind == Tok::Symbol && tok.text == u"?") {
            o.kind = Operand::Kind::Parameter;
            o.parameter = ++parameters_;
            ++pos_;
        } else if (accept(u"NULL")) {
            o.kind = Operand::Kind::Null;
        } else if (allowColumn) {
            o.kind = Operand::Kind::Column;
            o.column = columnRef();
        } else {
            failed_ = true;
        }
        return o;
    }

    std::unique_ptr<Expr> orExpr() {
        auto left = andExpr();
        while (!failed_ && accept(u"OR")) {
            auto e = std::make_unique<Expr>();
            e->kind = Expr::Kind::Or;
            e->left = std::move(left);
            e->right = andExpr();
            left = std::move(e);
        }
        return left;
    }

    std::unique_ptr<Expr> andExpr() {
        auto left = primary();
        while (!failed_ && accept(u"AND")) {
            auto e = std::make_unique<Expr>();
            e->kind = Expr::Kind::And;
            e->left = std::move(left);
            e->right = primary();
            left = std::move(e);
        }
        return left;
    }

    std::unique_ptr<Expr> primary() {
        if (failed_) return nullptr;
        if (acceptSym(u"(")) {
            if (++depth_ > kMaxDepth) { failed_ = true; return nullptr; }
            auto e = orExpr();
            --depth_;
            expectSym(u")");
            return e;
        }
        auto e = std::make_unique<Expr>();
        e->a.kind = Operand::Kind::Column;
        e->a.column = columnRef();
        if (accept(u"IS")) {
            e->kind = accept(u"NOT") ? Expr::Kind::IsNotNull : Expr::Kind::IsNull;
            expect(u"NULL");
            return e;
        }
        const Token& op = peek();
        if (op.kind != Tok::Symbol) { failed_ = true; return e; }
        if (op.text == u"=") e->op = CompareOp::Equal;
        else if (op.text == u"<>") e->op = CompareOp::NotEqual;
        else if (op.text == u"<") e->op = CompareOp::Less;
        else if (op.text == u">") e->op = CompareOp::Greater;
        else if (op.text == u"<=") e->op = CompareOp::LessEqual;
        else if (op.text == u">=") e->op = CompareOp::GreaterEqual;
        else { failed_ = true; return e; }
        ++pos_;
        e->b = value(true);
        if (e->b.kind == Operand::Kind::Null) failed_ = true;
        return e;
    }

    Statement select() {
        Select s;
        s.distinct = accept(u"DISTINCT");
        if (!acceptSym(u"*")) {
            do s.columns.push_back(columnRef());
            while (!failed_ && acceptSym(u","));
        }
        expect(u"FROM");
        do s.tables.push_back(identifier());
        while (!failed_ && acceptSym(u","));
        if (accept(u"WHERE")) s.where = orExpr();
        if (accept(u"ORDER")) {
            expect(u"BY");
            do s.orderBy.push_back(columnRef());
            while (!failed_ && acceptSym(u","));
        }
        return s;
    }

    Statement insert() {
        Insert s;
        expect(u"INTO");
        s.table = identifier();
        expectSym(u"(");
        do s.columns.push_back(identifier());
        while (!failed_ && acceptSym(u","));
        expectSym(u")");
        expect(u"VALUES");
        expectSym(u"(");
        do s.values.push_back(value(false));
        while (!failed_ && acceptSym(u","));
        expectSym(u")");
        s.temporary = accept(u"TEMPORARY");
        if (s.columns.size() != s.values.size()) failed_ = true;
        return s;
    }

    Statement update() {
        Update s;
        s.table = identifier();
        expect(u"SET");
        do {
            std::u16string column = identifier();
            expectSym(u"=");
            s.assignments.emplace_back(std::move(column), value(false));
        } while (!failed_ && acceptSym(u","));
        if (accept(u"WHERE")) s.where = orExpr();
        return s;
    }

    Statement del() {
        Delete s;
        expect(u"FROM");
        s.table = identifier();
        if (accept(u"WHERE")) s.where = orExpr();
        return s;
    }

    uint16_t columnType() {
        using namespace coltype;
        uint16_t type = 0;
        if (accept(u"CHAR") || accept(u"CHARACTER")) {
            type = kValid | kFixedSize | kString;
            if (acceptSym(u"(")) {
                int32_t n = 0;
                if (integer(&n) && (n < 0 || n > 255)) failed_ = true;
                type |= uint16_t(n);
                expectSym(u")");
            }
        } else if (accept(u"LONGCHAR")) {
            type = kValid | kFixedSize | kString;
        } else if (accept(u"SHORT") || accept(u"INT") || accept(u"INTEGER")) {
            type = kValid | kFixedSize | 2;
        } else if (accept(u"LONG")) {
            type = kValid | 4;
        } else if (accept(u"OBJECT")) {
            type = kValid | kString;
        } else {
            failed_ = true;
        }
        bool nullable = true;
        while (!failed_) {
            if (accept(u"NOT")) {
                expect(u"NULL");
                nullable = false;
            } else if (accept(u"TEMPORARY")) {
                type |= kTemporary;
            } else if (accept(u"LOCALIZABLE")) {
                if (!(type & kString)) failed_ = true;
                type |= kLocalizable;
            } else {
                break;
            }
        }
        if (nullable) type |= kNullable;
        return type;
    }

    Statement create() {
        CreateTable s;
        expect(u"TABLE");
        s.table = identifier();
        expectSym(u"(");
        do {
            ColumnDef d;
            d.name = identifier();
            d.type = columnType();
            s.columns.push_back(std::move(d));
        } while (!failed_ && acceptSym(u","));
        expect(u"PRIMARY");
        expect(u"KEY");
        do s.keys.push_back(identifier());
        while (!failed_ && acceptSym(u","));
        expectSym(u")");
        s.hold = accept(u"HOLD");
        return s;
    }

    Statement drop() {
        DropTable s;
        expect(u"TABLE");
        s.table = identifier();
        return s;
    }

    Statement alter() {
        AlterTable s;
        expect(u"TABLE");
        s.table = identifier();
        if (accept(u"HOLD")) {
            s.action = AlterTable::Action::Hold;
        } else if (accept(u"FREE")) {
            s.action = AlterTable::Action::Free;
        } else if (accept(u"ADD")) {
            s.action = AlterTable::Action::Add;
            s.column.name = identifier();
            s.column.type = columnType();
            s.hold = accept(u"HOLD");
        } else {
            failed_ = true;
        }
        return s;
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
    bool failed_ = false;
    unsigned parameters_ = 0;
    int depth_ = 0;
    static constexpr int kMaxDepth = 100;  // nesting that keeps the stack small
};

}  // namespace

std::unique_ptr<Statement> parse(std::u16string_view text, unsigned* parameterCount) {
    Parser p(tokenize(text));
    auto s = p.statement();
    if (parameterCount) *parameterCount = p.parameters();
    return s;
}

}  // namespace winsys::msi::sql
