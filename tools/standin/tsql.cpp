#include "tools/standin/tsql.h"

#include "data/jet_sql.h"

#include <QDateTime>
#include <QRegularExpression>

namespace standin::tsql {

namespace {

// A token that matters, with whether blanks or a comment came before it.
struct Tok
{
    fa::jet::Token::Kind kind;
    QString text;
    bool spaced = false;
};

using Toks = QList<Tok>;

bool isWord(const Tok &t, QLatin1StringView word)
{
    return t.kind == fa::jet::Token::Word && t.text.compare(word, Qt::CaseInsensitive) == 0;
}

bool isSymbol(const Tok &t, char c)
{
    return t.kind == fa::jet::Token::Symbol && t.text == QLatin1Char(c);
}

bool isWordAt(const Toks &toks, qsizetype i, QLatin1StringView word)
{
    return i >= 0 && i < toks.size() && isWord(toks.at(i), word);
}

bool isSymbolAt(const Toks &toks, qsizetype i, char c)
{
    return i >= 0 && i < toks.size() && isSymbol(toks.at(i), c);
}

// The name a Word or a [Name] stands for.
QString nameOf(const Tok &t)
{
    if (t.kind == fa::jet::Token::Name && t.text.size() >= 2)
        return t.text.mid(1, t.text.size() - 2);
    return t.text;
}

bool isNameLike(const Tok &t)
{
    return t.kind == fa::jet::Token::Word || t.kind == fa::jet::Token::Name;
}

Failure failure(int number, const QString &message, int severity = 16)
{
    return {number, severity, message};
}

bool fail(Failure *out, const Failure &f)
{
    if (out)
        *out = f;
    return false;
}

bool lex(const QString &text, Toks *toks, Failure *out)
{
    const QList<fa::jet::Token> tokens = fa::jet::tokenize(text);
    bool spaced = false;
    for (const fa::jet::Token &token : tokens) {
        const QString piece = text.mid(token.begin, token.length);
        if (!token.closed) {
            if (token.kind == fa::jet::Token::Comment)
                return fail(out, failure(113, QStringLiteral("Missing end comment mark '*/'.")));
            return fail(out, failure(105, QStringLiteral("Unclosed quotation mark after the "
                                                         "character string '%1'.")
                                              .arg(piece.mid(1))));
        }
        if (token.kind == fa::jet::Token::Space || token.kind == fa::jet::Token::Comment) {
            spaced = true;
            continue;
        }
        // N'…' is a Unicode text: SQLite's texts are all Unicode.
        if (token.kind == fa::jet::Token::Text && !spaced && !toks->isEmpty() &&
            toks->back().kind == fa::jet::Token::Word &&
            toks->back().text.compare(QLatin1String("N"), Qt::CaseInsensitive) == 0) {
            toks->back() = {token.kind, piece, toks->back().spaced};
            continue;
        }
        Tok t{token.kind, piece, spaced};
        // With QUOTED_IDENTIFIER on, as the drivers set it, "x" names a column.
        // SQLite would read it as a text where no such column exists:
        // brackets leave it a name only.
        if (t.kind == fa::jet::Token::QuotedText) {
            t.kind = fa::jet::Token::Name;
            const QString inner = piece.mid(1, piece.size() - 2)
                                      .replace(QStringLiteral("\"\""), QStringLiteral("\""));
            if (!inner.contains(QLatin1Char(']')))
                t.text = QLatin1Char('[') + inner + QLatin1Char(']');
        }
        toks->append(t);
        spaced = false;
    }
    return true;
}

QString joined(const Toks &toks, qsizetype begin, qsizetype end)
{
    QString out;
    for (qsizetype i = begin; i < end; ++i) {
        if (i > begin && toks.at(i).spaced)
            out += QLatin1Char(' ');
        out += toks.at(i).text;
    }
    return out;
}

// --- Splitting a batch ----------------------------------------------------

const QSet<QString> &statementWords()
{
    static const QSet<QString> words{
        QStringLiteral("declare"),  QStringLiteral("exec"),   QStringLiteral("execute"),
        QStringLiteral("use"),      QStringLiteral("begin"),  QStringLiteral("commit"),
        QStringLiteral("rollback"), QStringLiteral("drop"),   QStringLiteral("create"),
        QStringLiteral("delete"),   QStringLiteral("insert"), QStringLiteral("update"),
        QStringLiteral("if"),       QStringLiteral("while"),  QStringLiteral("print"),
        QStringLiteral("return"),   QStringLiteral("save"),   QStringLiteral("truncate"),
        QStringLiteral("alter"),    QStringLiteral("grant"),  QStringLiteral("merge"),
        QStringLiteral("go")};
    return words;
}

QList<Toks> split(const Toks &toks)
{
    QList<Toks> statements;
    Toks current;
    QString first;
    bool sawSet = false;
    bool sawSelect = false;
    bool ifBody = false;
    int depth = 0;
    const auto flush = [&] {
        if (!current.isEmpty())
            statements.append(current);
        current.clear();
        first.clear();
        sawSet = sawSelect = ifBody = false;
    };
    for (const Tok &t : toks) {
        if (isSymbol(t, '('))
            ++depth;
        else if (isSymbol(t, ')'))
            --depth;
        if (depth == 0 && isSymbol(t, ';')) {
            flush();
            continue;
        }
        const QString w = t.kind == fa::jet::Token::Word ? t.text.toLower() : QString();
        if (depth == 0 && !w.isEmpty() && !current.isEmpty()) {
            bool starts = statementWords().contains(w);
            if (w == QLatin1String("select")) {
                const QString before = current.back().text.toLower();
                starts = !(first == QLatin1String("insert") && !sawSelect) &&
                         before != QLatin1String("union") && before != QLatin1String("all") &&
                         before != QLatin1String("except") && before != QLatin1String("intersect");
            } else if (w == QLatin1String("set")) {
                starts = !(first == QLatin1String("update") && !sawSet);
            }
            if (starts && first == QLatin1String("if") && !ifBody) {
                ifBody = true;
                starts = false;
            }
            if (starts)
                flush();
        }
        if (current.isEmpty())
            first = w;
        if (w == QLatin1String("select"))
            sawSelect = true;
        else if (w == QLatin1String("set"))
            sawSet = true;
        current.append(t);
    }
    flush();
    return statements;
}

// --- Sorting a statement --------------------------------------------------

const QSet<QString> &onOffOptions()
{
    static const QSet<QString> options{QStringLiteral("nocount"),
                                       QStringLiteral("implicit_transactions"),
                                       QStringLiteral("ansi_nulls"),
                                       QStringLiteral("ansi_warnings"),
                                       QStringLiteral("ansi_padding"),
                                       QStringLiteral("ansi_null_dflt_on"),
                                       QStringLiteral("ansi_null_dflt_off"),
                                       QStringLiteral("ansi_defaults"),
                                       QStringLiteral("quoted_identifier"),
                                       QStringLiteral("concat_null_yields_null"),
                                       QStringLiteral("arithabort"),
                                       QStringLiteral("arithignore"),
                                       QStringLiteral("cursor_close_on_commit"),
                                       QStringLiteral("xact_abort"),
                                       QStringLiteral("numeric_roundabort")};
    return options;
}

bool parseSet(const Toks &toks, Statement *s, Failure *out)
{
    if (toks.size() < 2 || toks.at(1).kind != fa::jet::Token::Word)
        return fail(out, syntaxError(toks.size() < 2 ? toks.at(0).text : toks.at(1).text));
    s->kind = Statement::Set;
    s->name = toks.at(1).text.toLower();
    const QString rest = joined(toks, 2, toks.size());
    if (onOffOptions().contains(s->name)) {
        if (toks.size() != 3 ||
            !(isWord(toks.at(2), QLatin1String("on")) || isWord(toks.at(2), QLatin1String("off"))))
            return fail(out, syntaxError(toks.size() > 2 ? toks.at(2).text : toks.at(1).text));
        s->value = toks.at(2).text.toLower();
        return true;
    }
    static const QRegularExpression number(QStringLiteral("^-?\\s*\\d+$"));
    if (s->name == QLatin1String("textsize") || s->name == QLatin1String("lock_timeout") ||
        s->name == QLatin1String("datefirst")) {
        if (!number.match(rest).hasMatch())
            return fail(out, syntaxError(toks.size() > 2 ? toks.at(2).text : toks.at(1).text));
        s->value = QString(rest).remove(QLatin1Char(' '));
        return true;
    }
    if (s->name == QLatin1String("dateformat") || s->name == QLatin1String("language") ||
        s->name == QLatin1String("deadlock_priority")) {
        if (toks.size() != 3)
            return fail(out, syntaxError(toks.size() > 2 ? toks.at(3).text : toks.at(1).text));
        s->value = nameOf(toks.at(2));
        return true;
    }
    if (s->name == QLatin1String("transaction") && isWordAt(toks, 2, QLatin1String("isolation")) &&
        isWordAt(toks, 3, QLatin1String("level")) && toks.size() > 4) {
        s->value = joined(toks, 4, toks.size()).toLower();
        return true;
    }
    return fail(
        out,
        failure(195, QStringLiteral("'%1' is not a recognized SET option.").arg(toks.at(1).text)));
}

bool parseDeclare(const Toks &toks, Statement *s, Failure *out)
{
    s->kind = Statement::Declare;
    qsizetype i = 1;
    while (true) {
        if (!isSymbolAt(toks, i, '@') || i + 2 >= toks.size() ||
            toks.at(i + 1).kind != fa::jet::Token::Word || !isNameLike(toks.at(i + 2)))
            return fail(out, syntaxError(i < toks.size() ? toks.at(i).text : toks.back().text));
        const QString name = QLatin1Char('@') + toks.at(i + 1).text.toLower();
        if (s->names.contains(name))
            return fail(out, failure(134,
                                     QStringLiteral("The variable name '%1' has already been "
                                                    "declared. Variable names must be unique "
                                                    "within a query batch or stored procedure.")
                                         .arg(QLatin1Char('@') + toks.at(i + 1).text),
                                     15));
        s->names.append(name);
        i += 3;
        if (isSymbolAt(toks, i, '(')) {
            while (i < toks.size() && !isSymbol(toks.at(i), ')'))
                ++i;
            ++i;
        }
        if (i >= toks.size())
            return true;
        if (!isSymbol(toks.at(i), ','))
            return fail(out, syntaxError(toks.at(i).text));
        ++i;
    }
}

// A parameter value as EXEC takes it: a text, a number or a bare word.
bool execValue(const Toks &toks, qsizetype *i, QString *value)
{
    if (*i >= toks.size())
        return false;
    QString sign;
    if (isSymbol(toks.at(*i), '-')) {
        sign = QStringLiteral("-");
        ++*i;
        if (*i >= toks.size() || toks.at(*i).kind != fa::jet::Token::Number)
            return false;
    }
    const Tok &t = toks.at(*i);
    if (t.kind == fa::jet::Token::Text)
        *value = t.text.mid(1, t.text.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
    else if (t.kind == fa::jet::Token::Number || isNameLike(t))
        *value = sign + nameOf(t);
    else
        return false;
    ++*i;
    return true;
}

bool parseExec(const Toks &toks, Statement *s, Failure *out)
{
    s->kind = Statement::Exec;
    qsizetype i = 1;
    if (isSymbolAt(toks, i, '@') && isSymbolAt(toks, i + 2, '=')) {
        s->result = QLatin1Char('@') + toks.at(i + 1).text.toLower();
        i += 3;
    }
    if (i >= toks.size() || !isNameLike(toks.at(i)))
        return fail(out, syntaxError(i < toks.size() ? toks.at(i).text : toks.back().text));
    s->name = nameOf(toks.at(i));
    while (isSymbolAt(toks, i + 1, '.') && i + 2 < toks.size() && isNameLike(toks.at(i + 2))) {
        s->name = nameOf(toks.at(i + 2));
        i += 2;
    }
    ++i;
    while (i < toks.size()) {
        QString name;
        if (isSymbol(toks.at(i), '@') && isSymbolAt(toks, i + 2, '=')) {
            name = QLatin1Char('@') + toks.at(i + 1).text.toLower();
            i += 3;
        }
        QString value;
        if (!execValue(toks, &i, &value))
            return fail(out, syntaxError(i < toks.size() ? toks.at(i).text : toks.back().text));
        s->parameters.append({name, value});
        if (i < toks.size()) {
            if (!isSymbol(toks.at(i), ','))
                return fail(out, syntaxError(toks.at(i).text));
            ++i;
        }
    }
    return true;
}

bool tranTail(const Toks &toks, qsizetype from)
{
    qsizetype i = from;
    if (isWordAt(toks, i, QLatin1String("tran")) ||
        isWordAt(toks, i, QLatin1String("transaction")) || isWordAt(toks, i, QLatin1String("work")))
        ++i;
    if (i < toks.size() && isNameLike(toks.at(i)))
        ++i;
    return i == toks.size();
}

bool parseIf(const Toks &toks, Statement *s, Failure *out)
{
    // Only the test the drivers send before ending a transaction.
    const bool tranCount = toks.size() >= 7 && isSymbol(toks.at(1), '@') &&
                           isSymbol(toks.at(2), '@') &&
                           isWord(toks.at(3), QLatin1String("trancount")) &&
                           isSymbol(toks.at(4), '>') && toks.at(5).text == QLatin1String("0");
    if (tranCount && tranTail(toks, 7)) {
        if (isWord(toks.at(6), QLatin1String("commit"))) {
            s->kind = Statement::IfTranCommit;
            return true;
        }
        if (isWord(toks.at(6), QLatin1String("rollback"))) {
            s->kind = Statement::IfTranRollback;
            return true;
        }
    }
    return fail(out, syntaxError(QStringLiteral("IF")));
}

const QSet<QString> &refusedWords()
{
    // SQLite's own syntax, which SQL Server refuses.
    static const QSet<QString> words{
        QStringLiteral("limit"),         QStringLiteral("glob"),
        QStringLiteral("regexp"),        QStringLiteral("pragma"),
        QStringLiteral("attach"),        QStringLiteral("detach"),
        QStringLiteral("vacuum"),        QStringLiteral("autoincrement"),
        QStringLiteral("returning"),     QStringLiteral("without"),
        QStringLiteral("indexed"),       QStringLiteral("conflict"),
        QStringLiteral("replace"),       QStringLiteral("abort"),
        QStringLiteral("fail"),          QStringLiteral("ignore"),
        QStringLiteral("temp"),          QStringLiteral("temporary"),
        QStringLiteral("sqlite_master"), QStringLiteral("sqlite_schema")};
    return words;
}

bool checkGrouping(const Toks &toks, Failure *out);

bool checkTokens(const Toks &toks, Failure *out)
{
    for (qsizetype i = 0; i < toks.size(); ++i) {
        const Tok &t = toks.at(i);
        switch (t.kind) {
        case fa::jet::Token::Word:
            if (refusedWords().contains(t.text.toLower()))
                return fail(out, syntaxError(t.text));
            break;
        case fa::jet::Token::Name:
            if (t.text.startsWith(QLatin1Char('`')))
                return fail(out, syntaxError(t.text.left(1)));
            break;
        case fa::jet::Token::Date:
            return fail(out, syntaxError(t.text));
        case fa::jet::Token::Symbol: {
            const QChar c = t.text.at(0);
            const bool doubled =
                i + 1 < toks.size() && !toks.at(i + 1).spaced && toks.at(i + 1).text == t.text;
            if (c == QLatin1Char('?') || c == QLatin1Char('$') || c == QLatin1Char(':') ||
                c == QLatin1Char('#') || c == QLatin1Char('{') || c == QLatin1Char('}') ||
                ((c == QLatin1Char('|') || c == QLatin1Char('=')) && doubled))
                return fail(out, syntaxError(t.text));
            if (c == QLatin1Char('-') && i + 1 < toks.size() && toks.at(i + 1).text == u">")
                return fail(out, syntaxError(t.text));
            break;
        }
        default:
            break;
        }
    }
    return true;
}

bool parseStatement(const Toks &toks, bool firstOfBatch, Statement *s, Failure *out)
{
    const Tok &head = toks.at(0);
    const QString w = head.kind == fa::jet::Token::Word ? head.text.toLower() : QString();
    s->text = joined(toks, 0, toks.size());
    if (w == QLatin1String("select") || w == QLatin1String("insert") ||
        w == QLatin1String("update") || w == QLatin1String("delete")) {
        s->kind = Statement::Data;
        return checkTokens(toks, out) && checkGrouping(toks, out);
    }
    if (w == QLatin1String("create")) {
        if (!isWordAt(toks, 1, QLatin1String("table")) || toks.size() < 3)
            return fail(out, syntaxError(toks.size() > 1 ? toks.at(1).text : head.text));
        s->kind = Statement::CreateTable;
        s->name = nameOf(toks.at(2));
        return checkTokens(toks, out);
    }
    if (w == QLatin1String("drop")) {
        if (!isWordAt(toks, 1, QLatin1String("table")) || toks.size() < 3)
            return fail(out, syntaxError(toks.size() > 1 ? toks.at(1).text : head.text));
        qsizetype i = 2;
        if (isWordAt(toks, i, QLatin1String("dbo")) && isSymbolAt(toks, i + 1, '.'))
            i += 2;
        if (i + 1 != toks.size() || !isNameLike(toks.at(i)))
            return fail(out, syntaxError(toks.at(qMin(i + 1, toks.size() - 1)).text));
        s->kind = Statement::DropTable;
        s->name = nameOf(toks.at(i));
        return true;
    }
    if (w == QLatin1String("set"))
        return parseSet(toks, s, out);
    if (w == QLatin1String("declare"))
        return parseDeclare(toks, s, out);
    if (w == QLatin1String("exec") || w == QLatin1String("execute"))
        return parseExec(toks, s, out);
    if (w == QLatin1String("use")) {
        if (toks.size() != 2 || !isNameLike(toks.at(1)))
            return fail(out, syntaxError(toks.size() > 1 ? toks.at(1).text : head.text));
        s->kind = Statement::Use;
        s->name = nameOf(toks.at(1));
        return true;
    }
    if (w == QLatin1String("begin")) {
        if ((!isWordAt(toks, 1, QLatin1String("tran")) &&
             !isWordAt(toks, 1, QLatin1String("transaction"))) ||
            !tranTail(toks, 1))
            return fail(out, syntaxError(toks.size() > 1 ? toks.at(1).text : head.text));
        s->kind = Statement::Begin;
        return true;
    }
    if (w == QLatin1String("commit") || w == QLatin1String("rollback")) {
        if (!tranTail(toks, 1))
            return fail(out, syntaxError(toks.back().text));
        s->kind = w == QLatin1String("commit") ? Statement::Commit : Statement::Rollback;
        return true;
    }
    if (w == QLatin1String("if"))
        return parseIf(toks, s, out);
    // A batch that starts with an unknown word calls a procedure of that name.
    if (firstOfBatch && isNameLike(head))
        return fail(
            out,
            failure(2812,
                    QStringLiteral("Could not find stored procedure '%1'.").arg(nameOf(head))));
    return fail(out, syntaxError(head.text));
}

// --- Translating a data statement -----------------------------------------

const QSet<QString> &functions()
{
    static const QSet<QString> names{
        QStringLiteral("count"), QStringLiteral("sum"),      QStringLiteral("max"),
        QStringLiteral("min"),   QStringLiteral("avg"),      QStringLiteral("isnull"),
        QStringLiteral("cast"),  QStringLiteral("coalesce"), QStringLiteral("nullif"),
        QStringLiteral("abs"),   QStringLiteral("upper"),    QStringLiteral("lower"),
        QStringLiteral("ltrim"), QStringLiteral("rtrim")};
    return names;
}

const QSet<QString> &keywords()
{
    static const QSet<QString> words{
        QStringLiteral("in"),       QStringLiteral("values"),  QStringLiteral("exists"),
        QStringLiteral("and"),      QStringLiteral("or"),      QStringLiteral("not"),
        QStringLiteral("on"),       QStringLiteral("where"),   QStringLiteral("when"),
        QStringLiteral("then"),     QStringLiteral("else"),    QStringLiteral("as"),
        QStringLiteral("select"),   QStringLiteral("from"),    QStringLiteral("join"),
        QStringLiteral("by"),       QStringLiteral("between"), QStringLiteral("is"),
        QStringLiteral("case"),     QStringLiteral("end"),     QStringLiteral("into"),
        QStringLiteral("distinct"), QStringLiteral("all"),     QStringLiteral("any"),
        QStringLiteral("some"),     QStringLiteral("like"),    QStringLiteral("set"),
        QStringLiteral("having"),   QStringLiteral("union"),   QStringLiteral("inner"),
        QStringLiteral("left"),     QStringLiteral("outer")};
    return words;
}

qsizetype closingParen(const Toks &toks, qsizetype open, qsizetype end)
{
    int depth = 0;
    for (qsizetype i = open; i < end; ++i) {
        if (isSymbol(toks.at(i), '('))
            ++depth;
        else if (isSymbol(toks.at(i), ')') && --depth == 0)
            return i;
    }
    return -1;
}

const QSet<QString> &aggregates()
{
    static const QSet<QString> names{QStringLiteral("count"), QStringLiteral("sum"),
                                     QStringLiteral("max"), QStringLiteral("min"),
                                     QStringLiteral("avg")};
    return names;
}

// The columns an expression of a select list reads outside aggregates, and
// whether it holds an aggregate.
QStringList bareColumns(const Toks &toks, qsizetype begin, qsizetype end, bool *aggregated)
{
    QStringList columns;
    for (qsizetype i = begin; i < end; ++i) {
        const Tok &t = toks.at(i);
        if (isSymbol(t, '@')) {
            while (i + 1 < end && isSymbol(toks.at(i + 1), '@'))
                ++i;
            ++i; // the variable's name
            continue;
        }
        if (!isNameLike(t))
            continue;
        const QString w = t.text.toLower();
        if (t.kind == fa::jet::Token::Word && isSymbolAt(toks, i + 1, '(')) {
            if (aggregates().contains(w)) {
                *aggregated = true;
                i = closingParen(toks, i + 1, end);
                if (i < 0)
                    return columns;
            }
            continue;
        }
        if (w == QLatin1String("as")) {
            ++i; // the alias
            continue;
        }
        if (isSymbolAt(toks, i + 1, '.') ||
            (t.kind == fa::jet::Token::Word &&
             (keywords().contains(w) || w == QLatin1String("null"))))
            continue;
        columns << nameOf(t).toLower();
    }
    return columns;
}

// SQL Server refuses a column outside aggregates that is not grouped, where
// SQLite picks a value of some row.
bool checkGrouping(const Toks &toks, Failure *out)
{
    qsizetype select = -1;
    qsizetype from = -1;
    qsizetype group = -1;
    qsizetype groupEnd = toks.size();
    int depth = 0;
    for (qsizetype i = 0; i < toks.size(); ++i) {
        if (isSymbol(toks.at(i), '('))
            ++depth;
        else if (isSymbol(toks.at(i), ')'))
            --depth;
        else if (depth != 0)
            continue;
        else if (select < 0 && isWord(toks.at(i), QLatin1String("select")))
            select = i;
        else if (select >= 0 && from < 0 && isWord(toks.at(i), QLatin1String("from")))
            from = i;
        else if (from >= 0 && group < 0 && isWord(toks.at(i), QLatin1String("group")))
            group = i + 2;
        else if (group >= 0 && (isWord(toks.at(i), QLatin1String("having")) ||
                                isWord(toks.at(i), QLatin1String("order")) ||
                                isWord(toks.at(i), QLatin1String("union"))))
            groupEnd = qMin(groupEnd, i);
    }
    if (select < 0)
        return true;
    bool unused = false;
    const QStringList grouped =
        group >= 0 ? bareColumns(toks, group, groupEnd, &unused) : QStringList();
    const qsizetype listEnd = from < 0 ? toks.size() : from;
    QList<QStringList> items;
    bool aggregated = group >= 0;
    qsizetype start = select + 1;
    depth = 0;
    for (qsizetype i = select + 1; i <= listEnd; ++i) {
        if (i < listEnd && isSymbol(toks.at(i), '('))
            ++depth;
        else if (i < listEnd && isSymbol(toks.at(i), ')'))
            --depth;
        else if (i == listEnd || (depth == 0 && isSymbol(toks.at(i), ','))) {
            items << bareColumns(toks, start, i, &aggregated);
            start = i + 1;
        }
    }
    if (!aggregated)
        return true;
    for (const QStringList &columns : std::as_const(items)) {
        for (const QString &column : columns) {
            if (column != QLatin1String("*") && !grouped.contains(column))
                return fail(out,
                            failure(8120, QStringLiteral("Column '%1' is invalid in the select "
                                                         "list because it is not contained in "
                                                         "either an aggregate function or the "
                                                         "GROUP BY clause.")
                                              .arg(column)));
        }
    }
    return true;
}

bool isComparison(const Tok &t)
{
    return t.kind == fa::jet::Token::Symbol &&
           (t.text == u"<" || t.text == u">" || t.text == u"=" || t.text == u"!");
}

bool isDateColumn(const Toks &toks, qsizetype i, const Context &c)
{
    return i >= 0 && i < toks.size() && isNameLike(toks.at(i)) &&
           c.dateColumns.contains(nameOf(toks.at(i)).toLower());
}

// Whether the text at i stands where a date column is compared, as SQL Server
// then reads it as a date.
bool comparedWithDate(const Toks &toks, qsizetype i, const Context &c)
{
    qsizetype j = i - 1;
    while (j >= 0 && isComparison(toks.at(j)))
        --j;
    if (j < i - 1 && isDateColumn(toks, j, c))
        return true;
    if (isWordAt(toks, i - 1, QLatin1String("between"))) {
        j = i - 2;
        if (isWordAt(toks, j, QLatin1String("not")))
            --j;
        return isDateColumn(toks, j, c);
    }
    if (isWordAt(toks, i - 1, QLatin1String("and")) && i >= 2 &&
        toks.at(i - 2).kind == fa::jet::Token::Text && !storedDate(toks.at(i - 2).text).isEmpty() &&
        isWordAt(toks, i - 3, QLatin1String("between")))
        return comparedWithDate(toks, i - 2, c);
    j = i + 1;
    while (j < toks.size() && isComparison(toks.at(j)))
        ++j;
    return j > i + 1 && isDateColumn(toks, j, c);
}

class Translator
{
public:
    Translator(const Toks &toks, const Context &context) : m_toks(toks), m_c(context) {}

    bool range(qsizetype begin, qsizetype end, QString *out, Failure *f) const;
    bool createTable(QString *out, Failure *f) const;
    bool update(QString *out, Failure *f, bool *done) const;

private:
    bool word(qsizetype *i, qsizetype end, QString *out, Failure *f) const;
    bool variable(qsizetype *i, QString *out, Failure *f) const;
    static void put(QString *out, const Tok &t, const QString &text)
    {
        if (t.spaced || (!out->isEmpty() && !out->back().isSpace() && text.front().isLetter() &&
                         out->back().isLetterOrNumber()))
            *out += QLatin1Char(' ');
        *out += text;
    }

    const Toks &m_toks;
    const Context &m_c;
};

bool Translator::variable(qsizetype *i, QString *out, Failure *f) const
{
    const Tok &at = m_toks.at(*i);
    if (isSymbolAt(m_toks, *i + 1, '@') && *i + 2 < m_toks.size()) {
        const QString name = m_toks.at(*i + 2).text.toLower();
        QString value;
        if (name == QLatin1String("trancount"))
            value = QString::number(m_c.tranCount);
        else if (name == QLatin1String("rowcount"))
            value = QString::number(m_c.rowCount);
        else if (name == QLatin1String("error"))
            value = QStringLiteral("0");
        else if (name == QLatin1String("spid"))
            value = QStringLiteral("51");
        else if (name == QLatin1String("version"))
            value = QStringLiteral("'Microsoft SQL Server 2019 (tds-standin on SQLite)'");
        else if (name == QLatin1String("servername"))
            value = QStringLiteral("'TDS-STANDIN'");
        else
            return fail(f, syntaxError(QStringLiteral("@@") + m_toks.at(*i + 2).text));
        put(out, at, value);
        *i += 2;
        return true;
    }
    if (*i + 1 >= m_toks.size() || m_toks.at(*i + 1).kind != fa::jet::Token::Word)
        return fail(f, syntaxError(QStringLiteral("@")));
    const QString name = QLatin1Char('@') + m_toks.at(*i + 1).text;
    const auto found = m_c.variables.constFind(name.toLower());
    if (found == m_c.variables.cend())
        return fail(
            f,
            failure(137, QStringLiteral("Must declare the scalar variable \"%1\".").arg(name), 15));
    QString value;
    if (found->isNull())
        value = QStringLiteral("NULL");
    else if (found->typeId() == QMetaType::QString)
        value = QLatin1Char('\'') +
                found->toString().replace(QLatin1String("'"), QLatin1String("''")) +
                QLatin1Char('\'');
    else
        value = found->toString();
    put(out, at, value);
    *i += 1;
    return true;
}

bool Translator::word(qsizetype *i, qsizetype end, QString *out, Failure *f) const
{
    const Tok &t = m_toks.at(*i);
    const QString w = nameOf(t).toLower();
    const bool call = isSymbolAt(m_toks, *i + 1, '(') && t.kind == fa::jet::Token::Word;
    // master..t, master.dbo.t, <catalog>..t, dbo.t
    if (isSymbolAt(m_toks, *i + 1, '.') && !isSymbolAt(m_toks, *i - 1, '.')) {
        qsizetype table = -1;
        if (isSymbolAt(m_toks, *i + 2, '.'))
            table = *i + 3;
        else if (isWordAt(m_toks, *i + 2, QLatin1String("dbo")) && isSymbolAt(m_toks, *i + 3, '.'))
            table = *i + 4;
        if (table >= 0 && table < end && isNameLike(m_toks.at(table))) {
            if (w == QLatin1String("master")) {
                put(out, t, QStringLiteral("master.") + m_toks.at(table).text);
            } else if (w == m_c.catalog.toLower()) {
                put(out, t, m_toks.at(table).text);
            } else {
                return fail(f, failure(208, QStringLiteral("Invalid object name '%1'.")
                                                .arg(joined(m_toks, *i, table + 1))));
            }
            *i = table;
            return true;
        }
        if (w == QLatin1String("dbo") && *i + 2 < end && isNameLike(m_toks.at(*i + 2))) {
            put(out, t, m_toks.at(*i + 2).text);
            *i += 2;
            return true;
        }
    }
    if (!call) {
        put(out, t, t.text);
        return true;
    }
    const QString before = *i > 0 ? m_toks.at(*i - 1).text.toLower() : QString();
    const bool tableName = before == QLatin1String("into") || before == QLatin1String("table") ||
                           before == QLatin1String("from") || before == QLatin1String("join") ||
                           before == QLatin1String("update");
    if (tableName || keywords().contains(w)) {
        put(out, t, t.text);
        return true;
    }
    if (!functions().contains(w))
        return fail(
            f,
            failure(195,
                    QStringLiteral("'%1' is not a recognized built-in function name.").arg(t.text),
                    15));
    if (w == QLatin1String("isnull")) {
        put(out, t, QStringLiteral("ifnull"));
        return true;
    }
    if (w != QLatin1String("cast")) {
        put(out, t, t.text);
        return true;
    }
    const qsizetype close = closingParen(m_toks, *i + 1, end);
    qsizetype as = -1;
    int depth = 0;
    for (qsizetype k = *i + 2; close > 0 && k < close; ++k) {
        if (isSymbol(m_toks.at(k), '('))
            ++depth;
        else if (isSymbol(m_toks.at(k), ')'))
            --depth;
        else if (depth == 0 && isWord(m_toks.at(k), QLatin1String("as")))
            as = k;
    }
    if (close < 0 || as < 0 || as + 1 >= close)
        return fail(f, syntaxError(close < 0 ? m_toks.at(end - 1).text : m_toks.at(close).text));
    QString inner;
    if (!range(*i + 2, as, &inner, f))
        return false;
    const QString type = nameOf(m_toks.at(as + 1)).toLower();
    QString text;
    if (type == QLatin1String("float") || type == QLatin1String("real"))
        text = QStringLiteral("tsql_float(") + inner + QLatin1Char(')');
    else if (type == QLatin1String("int") || type == QLatin1String("bigint") ||
             type == QLatin1String("smallint"))
        text = QStringLiteral("tsql_int(") + inner + QLatin1Char(')');
    else if (type.endsWith(QLatin1String("char")))
        text = QStringLiteral("CAST(") + inner + QStringLiteral(" AS TEXT)");
    else
        return fail(f, syntaxError(m_toks.at(as + 1).text));
    put(out, t, text);
    *i = close;
    return true;
}

bool Translator::range(qsizetype begin, qsizetype end, QString *out, Failure *f) const
{
    for (qsizetype i = begin; i < end; ++i) {
        const Tok &t = m_toks.at(i);
        switch (t.kind) {
        case fa::jet::Token::Word:
        case fa::jet::Token::Name:
            if (!word(&i, end, out, f))
                return false;
            break;
        case fa::jet::Token::Text: {
            const QString date = storedDate(t.text);
            if (!date.isEmpty() && comparedWithDate(m_toks, i, m_c))
                put(out, t, QLatin1Char('\'') + date + QLatin1Char('\''));
            else
                put(out, t, t.text);
            break;
        }
        case fa::jet::Token::Symbol:
            if (isSymbol(t, '@')) {
                if (!variable(&i, out, f))
                    return false;
                break;
            }
            put(out, t, t.text);
            break;
        default:
            put(out, t, t.text);
            break;
        }
    }
    return true;
}

bool Translator::createTable(QString *out, Failure *f) const
{
    int depth = 0;
    for (qsizetype i = 0; i < m_toks.size(); ++i) {
        const Tok &t = m_toks.at(i);
        if (isSymbol(t, '('))
            ++depth;
        else if (isSymbol(t, ')'))
            --depth;
        const QString w = t.kind == fa::jet::Token::Word ? t.text.toLower() : QString();
        if (depth == 0 && i > 3 &&
            (w == QLatin1String("on") || w == QLatin1String("textimage_on")) &&
            i + 1 < m_toks.size()) {
            ++i; // the filegroup: SQLite has one file
            continue;
        }
        if (w == QLatin1String("collate") && i + 1 < m_toks.size()) {
            // SQL Server's _CI_ collations ignore letter case, as NOCASE does
            // for the Latin letters that the department and type numbers use.
            ++i;
            if (nameOf(m_toks.at(i)).contains(QLatin1String("_CI"), Qt::CaseInsensitive))
                *out += QStringLiteral(" COLLATE NOCASE");
            continue;
        }
        if (w == QLatin1String("clustered") || w == QLatin1String("nonclustered"))
            continue;
        if (w == QLatin1String("identity"))
            return fail(f, syntaxError(t.text));
        if (isSymbol(t, '(') && isWordAt(m_toks, i + 1, QLatin1String("max")) &&
            isSymbolAt(m_toks, i + 2, ')')) {
            i += 2;
            --depth;
            continue;
        }
        put(out, t, t.text);
    }
    return true;
}

// The reference of a table in a FROM clause: its name and alias, and where
// the reference ends.
struct TableRef
{
    QString table; // as written
    QString alias;
    QString tableName; // as it names
    QString aliasName;
    qsizetype end = -1;
};

TableRef tableRef(const Toks &toks, qsizetype i)
{
    TableRef ref;
    if (i >= toks.size() || !isNameLike(toks.at(i)))
        return ref;
    if (isWordAt(toks, i, QLatin1String("dbo")) && isSymbolAt(toks, i + 1, '.'))
        i += 2;
    if (i >= toks.size() || !isNameLike(toks.at(i)))
        return ref;
    ref.table = toks.at(i).text;
    ref.tableName = nameOf(toks.at(i));
    ++i;
    if (isWordAt(toks, i, QLatin1String("as")))
        ++i;
    if (i < toks.size() && isNameLike(toks.at(i)) &&
        !keywords().contains(toks.at(i).text.toLower()) &&
        !isWordAt(toks, i, QLatin1String("where"))) {
        ref.alias = toks.at(i).text;
        ref.aliasName = nameOf(toks.at(i));
        ++i;
    }
    ref.end = i;
    return ref;
}

bool Translator::update(QString *out, Failure *f, bool *done) const
{
    *done = false;
    qsizetype set = -1;
    qsizetype from = -1;
    qsizetype where = -1;
    int depth = 0;
    for (qsizetype i = 0; i < m_toks.size(); ++i) {
        const Tok &t = m_toks.at(i);
        if (isSymbol(t, '('))
            ++depth;
        else if (isSymbol(t, ')'))
            --depth;
        else if (depth == 0 && set < 0 && isWord(t, QLatin1String("set")))
            set = i;
        else if (depth == 0 && set >= 0 && from < 0 && isWord(t, QLatin1String("from")))
            from = i;
        else if (depth == 0 && from >= 0 && where < 0 && isWord(t, QLatin1String("where")))
            where = i;
    }
    if (set < 0 || from < 0)
        return true;
    const TableRef target = tableRef(m_toks, 1);
    const TableRef first = tableRef(m_toks, from + 1);
    if (target.end != set || first.end < 0)
        return true;
    const QString name = nameOf(m_toks.at(target.end - 1)).toLower();
    const bool self = first.tableName.compare(name, Qt::CaseInsensitive) == 0 ||
                      first.aliasName.compare(name, Qt::CaseInsensitive) == 0;
    if (!self)
        return true; // SQLite's UPDATE … FROM joins the target as SQL Server does
    qsizetype k = first.end;
    if (isWordAt(m_toks, k, QLatin1String("inner")))
        ++k;
    if (!isWordAt(m_toks, k, QLatin1String("join")))
        return fail(f, syntaxError(k < m_toks.size() ? m_toks.at(k).text : m_toks.back().text));
    const TableRef second = tableRef(m_toks, k + 1);
    if (second.end < 0 || !isWordAt(m_toks, second.end, QLatin1String("on")))
        return fail(f, syntaxError(m_toks.at(qMin(k + 1, m_toks.size() - 1)).text));
    const qsizetype condEnd = where < 0 ? m_toks.size() : where;
    for (qsizetype i = second.end; i < condEnd; ++i) {
        if (isWord(m_toks.at(i), QLatin1String("join")))
            return fail(f, syntaxError(m_toks.at(i).text));
    }
    QString setText;
    QString secondText;
    QString condition;
    QString filter;
    if (!range(set, from, &setText, f) || !range(k + 1, second.end, &secondText, f) ||
        !range(second.end + 1, condEnd, &condition, f) ||
        (where >= 0 && !range(where + 1, m_toks.size(), &filter, f)))
        return false;
    *out = QStringLiteral("UPDATE ") + first.table;
    if (!first.alias.isEmpty())
        *out += QStringLiteral(" AS ") + first.alias;
    *out += QLatin1Char(' ') + setText.trimmed() + QStringLiteral(" FROM ") + secondText.trimmed() +
            QStringLiteral(" WHERE (") + condition.trimmed() + QLatin1Char(')');
    if (where >= 0)
        *out += QStringLiteral(" AND (") + filter.trimmed() + QLatin1Char(')');
    *done = true;
    return true;
}

} // namespace

Failure syntaxError(const QString &near)
{
    return {102, 15, QStringLiteral("Incorrect syntax near '%1'.").arg(near)};
}

QString storedDate(QStringView literal)
{
    static const QRegularExpression form(
        QStringLiteral("^'(\\d{4})-?(\\d{2})-?(\\d{2})(?:[ "
                       "T](\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.\\d{1,3})?)?)?'$"));
    const QRegularExpressionMatch m = form.match(literal);
    if (!m.hasMatch())
        return {};
    // Only the tool's forms: all digits, or dashes with a 'T' before the time.
    const bool dashes = literal.contains(QLatin1Char('-'));
    const bool withT = literal.contains(QLatin1Char('T'));
    if (dashes != withT || (dashes && m.captured(6).isEmpty()))
        return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool parseBatch(const QString &batch, QList<Statement> *statements, Failure *out)
{
    Toks toks;
    if (!lex(batch, &toks, out))
        return false;
    const QList<Toks> parts = split(toks);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        Statement s;
        if (!parseStatement(parts.at(i), i == 0, &s, out))
            return false;
        statements->append(s);
    }
    return true;
}

bool translate(const Statement &statement, const Context &context, QString *sqlite,
               Failure *failure)
{
    Toks toks;
    if (!lex(statement.text, &toks, failure))
        return false;
    if (toks.isEmpty())
        return fail(failure, syntaxError(statement.text));
    Translator translator(toks, context);
    sqlite->clear();
    if (statement.kind == Statement::CreateTable)
        return translator.createTable(sqlite, failure);
    if (isWord(toks.at(0), QLatin1String("update"))) {
        bool done = false;
        if (!translator.update(sqlite, failure, &done))
            return false;
        if (done)
            return true;
    }
    return translator.range(0, toks.size(), sqlite, failure);
}

} // namespace standin::tsql
