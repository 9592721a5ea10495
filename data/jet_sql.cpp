#include "data/jet_sql.h"

#include "data/app_error.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>
#include <optional>
#include <vector>

namespace fa::jet {

namespace {

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c.unicode() >= 0x80;
}

bool isWordPart(QChar c)
{
    return isWordStart(c) || c.isDigit() || c == QLatin1Char('$');
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The inside of a #…# literal as the stored text 'yyyy-MM-dd HH:mm:ss', or
// nothing when it does not read as a date. The tool writes yyyy-MM-dd with an
// optional time; the US order m/d/yyyy of Jet SQL is read as well. A time
// alone stands on Jet's day zero, 1899-12-30.
std::optional<QString> storedDate(QStringView inside)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(?:(?:(\\d{4})[-/.](\\d{1,2})[-/.](\\d{1,2})"
                       "|(\\d{1,2})/(\\d{1,2})/(\\d{4}))"
                       "(?:(?:\\s+|T)(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?(?:\\s*([AaPp][Mm]))?)?"
                       "|(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?(?:\\s*([AaPp][Mm]))?)\\s*$"));
    const QRegularExpressionMatch m = pattern.match(inside);
    if (!m.hasMatch())
        return std::nullopt;
    const auto number = [&m](int group) { return m.capturedView(group).toInt(); };
    QDate date(1899, 12, 30);
    int timeGroup = 11;
    if (m.hasCaptured(1))
        date = QDate(number(1), number(2), number(3));
    else if (m.hasCaptured(4))
        date = QDate(number(6), number(4), number(5));
    if (m.hasCaptured(1) || m.hasCaptured(4))
        timeGroup = 7;
    int hour = 0, minute = 0, second = 0;
    if (m.hasCaptured(timeGroup)) {
        hour = number(timeGroup);
        minute = number(timeGroup + 1);
        second = m.hasCaptured(timeGroup + 2) ? number(timeGroup + 2) : 0;
        if (m.hasCaptured(timeGroup + 3)) {
            const bool pm =
                m.capturedView(timeGroup + 3).startsWith(QLatin1Char('p'), Qt::CaseInsensitive);
            if (hour < 1 || hour > 12)
                return std::nullopt;
            hour = hour % 12 + (pm ? 12 : 0);
        }
    }
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QLatin1Char('\'') + date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           time.toString(QStringLiteral("HH:mm:ss")) + QLatin1Char('\'');
}

// Index of the first character after a quoted run that starts at `begin`
// and ends with `close`; a doubled `close` stays inside when `doubled`. A run
// that never ends runs to the end of the text and leaves `*closed` false.
qsizetype skipQuoted(QStringView sql, qsizetype begin, QChar close, bool doubled, bool *closed)
{
    qsizetype i = begin + 1;
    while (i < sql.size()) {
        if (sql[i] == close) {
            if (doubled && i + 1 < sql.size() && sql[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    *closed = false;
    return sql.size();
}

// The start of the statement's text from `begin`, for a message.
QString excerpt(QStringView sql, qsizetype begin)
{
    constexpr qsizetype kLength = 40;
    const QStringView rest = sql.sliced(begin);
    if (rest.size() <= kLength)
        return rest.toString();
    return rest.first(kLength).toString() + QStringLiteral("…");
}

[[noreturn]] void refuse(const QString &what, QStringView sql, qsizetype begin)
{
    throw AppError(kErrorsInCommand, what + excerpt(sql, begin));
}

} // namespace

QList<Token> tokenize(QStringView sql)
{
    QList<Token> tokens;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        const QChar next = i + 1 < n ? sql[i + 1] : QChar();
        qsizetype end = i + 1;
        Token::Kind kind = Token::Symbol;
        bool closed = true;
        if (c.isSpace()) {
            kind = Token::Space;
            while (end < n && sql[end].isSpace())
                ++end;
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            kind = Token::Comment;
            while (end < n && sql[end] != QLatin1Char('\n'))
                ++end;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            kind = Token::Comment;
            const qsizetype close = sql.indexOf(u"*/", i + 2);
            end = close < 0 ? n : close + 2;
            closed = close >= 0;
        } else if (c == QLatin1Char('\'')) {
            kind = Token::Text;
            end = skipQuoted(sql, i, c, true, &closed);
        } else if (c == QLatin1Char('"')) {
            kind = Token::QuotedText;
            end = skipQuoted(sql, i, c, true, &closed);
        } else if (c == QLatin1Char('[')) {
            kind = Token::Name;
            end = skipQuoted(sql, i, QLatin1Char(']'), false, &closed);
        } else if (c == QLatin1Char('`')) {
            kind = Token::Name;
            end = skipQuoted(sql, i, c, false, &closed);
        } else if (isAsciiDigit(c) || (c == QLatin1Char('.') && isAsciiDigit(next))) {
            kind = Token::Number;
            while (end < n && (isAsciiDigit(sql[end]) || sql[end] == QLatin1Char('.')))
                ++end;
            if (end < n && (sql[end] == QLatin1Char('e') || sql[end] == QLatin1Char('E'))) {
                qsizetype e = end + 1;
                if (e < n && (sql[e] == QLatin1Char('+') || sql[e] == QLatin1Char('-')))
                    ++e;
                if (e < n && isAsciiDigit(sql[e])) {
                    end = e;
                    while (end < n && isAsciiDigit(sql[end]))
                        ++end;
                }
            }
        } else if (isWordStart(c)) {
            kind = Token::Word;
            while (end < n && isWordPart(sql[end]))
                ++end;
        } else if (c == QLatin1Char('#')) {
            const qsizetype close = sql.indexOf(QLatin1Char('#'), i + 1);
            if (close > 0 && storedDate(sql.sliced(i + 1, close - i - 1))) {
                kind = Token::Date;
                end = close + 1;
            }
        }
        tokens.append(Token{kind, i, end - i, closed});
        i = end;
    }
    return tokens;
}

namespace {

// The rewriting of a joined UPDATE, on the tokens of one statement. Positions
// are indices into the token list; only significant tokens (no blanks, no
// comments) are looked at, and the text between them is carried along.
class UpdateRewriter
{
public:
    UpdateRewriter(QStringView sql, const QList<Token> &tokens, const std::vector<QString> &pieces)
        : m_sql(sql), m_tokens(tokens), m_pieces(pieces), m_dropped(tokens.size(), false)
    {}

    // The rewritten statement, or nothing when it is no joined UPDATE.
    std::optional<QString> rewrite();

private:
    using View = std::vector<int>;

    struct Join
    {
        bool inner = true;
        int opBegin = 0; // positions in the view
        int tableBegin = 0;
        int tableEnd = 0;
        int condBegin = -1; // after ON; -1 when there is no ON
        int condEnd = 0;
    };

    bool isWord(int t, const char *word) const
    {
        return m_tokens[t].kind == Token::Word &&
               m_pieces[t].compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(int t, char symbol) const
    {
        return m_tokens[t].kind == Token::Symbol && m_pieces[t] == QLatin1Char(symbol);
    }
    int depthStep(int t) const { return isSymbol(t, '(') ? 1 : isSymbol(t, ')') ? -1 : 0; }
    // The position after a join operator ([INNER|LEFT|RIGHT|FULL|CROSS]
    // [OUTER] JOIN) that starts at `at` in the view, or -1.
    int joinOperator(const View &view, int at, bool *inner) const;
    // The source text of view[begin, end), with what lies between, trimmed.
    QString text(const View &view, int begin, int end) const;
    // The name inside [ ] or ` `, or the word itself.
    QString bareName(int t) const;

    QStringView m_sql;
    const QList<Token> &m_tokens;
    const std::vector<QString> &m_pieces;
    std::vector<bool> m_dropped;
};

int UpdateRewriter::joinOperator(const View &view, int at, bool *inner) const
{
    const int end = int(view.size());
    *inner = true;
    if (at < end && (isWord(view[at], "INNER") || isWord(view[at], "CROSS"))) {
        ++at;
    } else if (at < end && (isWord(view[at], "LEFT") || isWord(view[at], "RIGHT") ||
                            isWord(view[at], "FULL"))) {
        *inner = false;
        ++at;
        if (at < end && isWord(view[at], "OUTER"))
            ++at;
    }
    return at < end && isWord(view[at], "JOIN") ? at + 1 : -1;
}

QString UpdateRewriter::text(const View &view, int begin, int end) const
{
    QString result;
    if (begin >= end)
        return result;
    for (int t = view[begin]; t <= view[end - 1]; ++t) {
        if (!m_dropped[t])
            result += m_pieces[t];
    }
    return result.trimmed();
}

QString UpdateRewriter::bareName(int t) const
{
    const QString &piece = m_pieces[t];
    if (m_tokens[t].kind == Token::Name)
        return piece.mid(1, piece.size() - 2);
    return piece;
}

std::optional<QString> UpdateRewriter::rewrite()
{
    View sig;
    for (int t = 0; t < int(m_tokens.size()); ++t) {
        if (m_tokens[t].kind != Token::Space && m_tokens[t].kind != Token::Comment)
            sig.push_back(t);
    }
    if (sig.size() < 2 || !isWord(sig.front(), "UPDATE"))
        return std::nullopt;
    const bool semicolon = isSymbol(sig.back(), ';');
    if (semicolon)
        sig.pop_back();

    // Where parentheses do not pair up, the parts of a joined UPDATE cannot
    // be told apart; moving them about would make another statement of it.
    bool hasJoin = false;
    bool hasSet = false;
    bool balanced = true;
    for (int s = 1, depth = 0; s < int(sig.size()); ++s) {
        depth += depthStep(sig[s]);
        balanced = balanced && depth >= 0 && (s + 1 < int(sig.size()) || depth == 0);
        hasJoin = hasJoin || isWord(sig[s], "JOIN");
        hasSet = hasSet || isWord(sig[s], "SET");
    }
    if (hasJoin && hasSet && !balanced)
        refuse(QStringLiteral("联接的 UPDATE 语句中括号不配对："), m_sql,
               m_tokens[sig.front()].begin);

    // The SET that ends the table part, outside any parentheses.
    int set = -1;
    bool anyJoin = false;
    for (int s = 1, depth = 0; s < int(sig.size()) && set < 0; ++s) {
        depth += depthStep(sig[s]);
        anyJoin = anyJoin || isWord(sig[s], "JOIN");
        if (depth == 0 && isWord(sig[s], "SET"))
            set = s;
    }
    if (set < 0 || !anyJoin)
        return std::nullopt;
    // A second statement would be glued to the moved join conditions.
    for (int t : sig) {
        if (isSymbol(t, ';'))
            throw AppError(kErrorsInCommand, QStringLiteral("在 SQL 语句结尾之后找到字符。"));
    }

    // Jet nests joins to the left in parentheses, ((t JOIN u ON …) JOIN v
    // ON …); joins associate to the left anyway, so those parentheses go.
    View region(sig.begin() + 1, sig.begin() + set);
    while (!region.empty() && isSymbol(region.front(), '(')) {
        int depth = 0;
        auto close = region.end();
        for (auto it = region.begin(); it != region.end(); ++it) {
            depth += depthStep(*it);
            if (depth == 0) {
                close = it;
                break;
            }
        }
        if (close == region.end())
            return std::nullopt;
        // Only parentheses around the whole of a join may go: anywhere else
        // dropping them would glue the words on either side together.
        bool inner = true;
        if (close + 1 != region.end() &&
            joinOperator(region, int(close + 1 - region.begin()), &inner) < 0)
            refuse(QStringLiteral("联接的 UPDATE 语句中括号的位置不对："), m_sql,
                   m_tokens[region.front()].begin);
        m_dropped[*close] = true;
        m_dropped[region.front()] = true;
        region.erase(close);
        region.erase(region.begin());
    }

    // The chain: the target, then the joins, at the outer level.
    std::vector<Join> joins;
    int targetEnd = -1;
    for (int s = 0, depth = 0; s < int(region.size()); ++s) {
        if (depth == 0) {
            bool inner = true;
            const int after = joinOperator(region, s, &inner);
            if (after > 0) {
                if (joins.empty())
                    targetEnd = s;
                else
                    joins.back().condEnd = s;
                joins.push_back(Join{inner, s, after, int(region.size()), -1, int(region.size())});
                s = after - 1;
                continue;
            }
            if (!joins.empty() && joins.back().condBegin < 0 && isWord(region[s], "ON")) {
                joins.back().tableEnd = s;
                joins.back().condBegin = s + 1;
            }
        }
        depth += depthStep(region[s]);
    }
    // Only a target joined by an inner join can become the target of
    // UPDATE … FROM: its rows without a partner are not updated either.
    if (joins.empty() || targetEnd <= 0 || !joins.front().inner)
        return std::nullopt;
    for (const Join &j : joins) {
        if (j.tableBegin >= j.tableEnd)
            return std::nullopt;
    }

    // The SET part, and a WHERE after it.
    const View rest(sig.begin() + set + 1, sig.end());
    int where = int(rest.size());
    for (int s = 0, depth = 0; s < int(rest.size()); ++s) {
        depth += depthStep(rest[s]);
        if (depth == 0 && isWord(rest[s], "WHERE")) {
            where = s;
            break;
        }
    }
    if (where == 0)
        return std::nullopt;

    // SQLite names the assigned column without the target's name or alias;
    // Jet allows a.col = ….
    const QString targetTable = bareName(region.front());
    const QString targetAlias = bareName(region[targetEnd - 1]);
    bool startOfAssignment = true;
    for (int s = 0, depth = 0; s < where; ++s) {
        const int t = rest[s];
        if (depth == 0 && startOfAssignment && s + 2 < where && isSymbol(rest[s + 1], '.') &&
            (m_tokens[t].kind == Token::Word || m_tokens[t].kind == Token::Name)) {
            const QString qualifier = bareName(t);
            if (qualifier.compare(targetTable, Qt::CaseInsensitive) == 0 ||
                qualifier.compare(targetAlias, Qt::CaseInsensitive) == 0) {
                m_dropped[t] = true;
                m_dropped[rest[s + 1]] = true;
            }
        }
        depth += depthStep(t);
        startOfAssignment = depth == 0 && isSymbol(t, ',');
    }

    // Inner join conditions move to the WHERE (a condition in FROM cannot
    // see the target); the others stay with their join.
    QStringList conditions;
    QString from;
    for (size_t i = 0; i < joins.size(); ++i) {
        const Join &j = joins[i];
        if (i > 0)
            from += QLatin1Char(' ') + text(region, j.opBegin, j.tableBegin) + QLatin1Char(' ');
        from += text(region, j.tableBegin, j.tableEnd);
        if (j.condBegin < 0)
            continue;
        const QString condition = text(region, j.condBegin, j.condEnd);
        if (condition.isEmpty())
            return std::nullopt;
        if (j.inner || i == 0)
            conditions << QLatin1Char('(') + condition + QLatin1Char(')');
        else
            from += QStringLiteral(" ON ") + condition;
    }
    if (where < int(rest.size()))
        conditions << QLatin1Char('(') + text(rest, where + 1, int(rest.size())) + QLatin1Char(')');

    QString result = m_pieces[sig.front()] + QLatin1Char(' ') + text(region, 0, targetEnd) +
                     QLatin1Char(' ') + m_pieces[sig[set]] + QLatin1Char(' ') +
                     text(rest, 0, where) + QStringLiteral(" FROM ") + from;
    if (!conditions.isEmpty())
        result += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    if (semicolon)
        result += QLatin1Char(';');
    return result;
}

// "text" → 'text': a text in Jet SQL, a name (or at best a text) in SQLite.
QString singleQuoted(const QString &doubleQuoted)
{
    QString inside = doubleQuoted.mid(1);
    if (inside.endsWith(QLatin1Char('"')))
        inside.chop(1);
    inside.replace(QStringLiteral("\"\""), QStringLiteral("\""));
    inside.replace(QStringLiteral("'"), QStringLiteral("''"));
    return QLatin1Char('\'') + inside + QLatin1Char('\'');
}

} // namespace

QString translate(const QString &sql)
{
    const QList<Token> tokens = tokenize(sql);
    std::vector<QString> pieces;
    pieces.reserve(tokens.size());
    bool changed = false;
    for (const Token &t : tokens) {
        if (!t.closed && t.kind == Token::Comment)
            refuse(QStringLiteral("SQL 语句中的注释没有结束："), sql, t.begin);
        if (!t.closed && t.kind == Token::Name)
            refuse(QStringLiteral("SQL 语句中的名称没有结束："), sql, t.begin);
        if (!t.closed)
            refuse(QStringLiteral("SQL 语句中的文本没有结束："), sql, t.begin);
        // Outside texts and names, '#' only ever opens a date literal.
        if (t.kind == Token::Symbol && sql[t.begin] == QLatin1Char('#'))
            refuse(QStringLiteral("SQL 语句中的日期无法识别："), sql, t.begin);
        QString piece = sql.mid(t.begin, t.length);
        if (t.kind == Token::Date) {
            piece = *storedDate(QStringView(piece).sliced(1, piece.size() - 2));
            changed = true;
        } else if (t.kind == Token::QuotedText) {
            piece = singleQuoted(piece);
            changed = true;
        }
        pieces.push_back(piece);
    }
    if (std::optional<QString> update = UpdateRewriter(sql, tokens, pieces).rewrite())
        return *update;
    if (!changed)
        return sql;
    QString result;
    for (const QString &piece : pieces)
        result += piece;
    return result;
}

} // namespace fa::jet
