#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace fa::jet {

// One piece of a statement's text, as a position in it.
struct Token
{
    enum Kind {
        Space,      // blanks, tabs, line breaks
        Comment,    // -- … or /* … */
        Text,       // 'text', with '' inside
        QuotedText, // "text", with "" inside (a text, not a name, in Jet SQL)
        Name,       // [name] or `name`
        Number,     // 12, 1.5, .5, 1E-3
        Word,       // keywords, names, function names
        Date,       // #2002-05-31#, only when the inside reads as a date
        Symbol,     // any other single character
    };
    Kind kind;
    qsizetype begin;
    qsizetype length;
    bool closed = true; // false for a text, name or /* comment that never ends
};

// Splits a statement into tokens; the tokens cover the text without gaps.
// An unterminated text, name or comment runs to the end and is not closed.
QList<Token> tokenize(QStringView sql);

// Rewrites a statement of the file database's dialect (Jet SQL) into the SQL
// that SQLite runs:
// - #…# date literals become the stored text form 'yyyy-MM-dd HH:mm:ss'
//   (dates are stored with their time, so a date alone means midnight);
// - "…" texts become '…' texts;
// - UPDATE t INNER JOIN u ON c SET s [WHERE w] becomes
//   UPDATE t SET s FROM u WHERE (c) [AND (w)].
// Everything else passes through unchanged. A statement that cannot be
// split into tokens completely (a text, name, comment or date literal that
// does not end, a '#' that starts no date) is refused with an AppError
// kErrorsInCommand, and so is a joined UPDATE that the rewrite would have to
// guess at: unbalanced parentheses, parentheses around the tables that do not
// close a join, or a ';' before its end. Any other text that does not parse
// as expected is left for SQLite to report.
QString translate(const QString &sql);

} // namespace fa::jet
