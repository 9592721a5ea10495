#include "tools/standin/tds_wire.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstring>

namespace standin::tds {

namespace {

// The longest text an nvarchar(n) column takes, in characters.
constexpr qsizetype kMaxNVarChar = 4000;

// Chinese_PRC_CI_AS, the collation of the servers the tool meets.
const QByteArray kCollation("\x04\x08\xD0\x00\x34", 5);

enum Token : quint8 {
    ColMetadata = 0x81,
    ErrorToken = 0xAA,
    InfoToken = 0xAB,
    LoginAckToken = 0xAD,
    RowToken = 0xD1,
    EnvChange = 0xE3
};

enum TypeCode : quint8 {
    IntN = 0x26,
    BitN = 0x68,
    FloatN = 0x6D,
    DateTimeN = 0x6F,
    NVarCharType = 0xE7
};

void put8(QByteArray &out, quint8 v)
{
    out += char(v);
}
void put16(QByteArray &out, quint16 v)
{
    out += char(v & 0xFF);
    out += char(v >> 8);
}
void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}
void put64(QByteArray &out, quint64 v)
{
    put32(out, quint32(v & 0xFFFFFFFF));
    put32(out, quint32(v >> 32));
}
QByteArray ucs2(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}
// Text with a one-byte length in characters (cut at 255).
void putBText(QByteArray &out, const QString &text)
{
    const QString cut = text.left(255);
    put8(out, quint8(cut.size()));
    out += ucs2(cut);
}
// Text with a two-byte length in characters.
void putUsText(QByteArray &out, const QString &text)
{
    const QString cut = text.left(65535);
    put16(out, quint16(cut.size()));
    out += ucs2(cut);
}
// A token with a two-byte length of what follows.
QByteArray sized(quint8 token, const QByteArray &body)
{
    QByteArray out;
    put8(out, token);
    put16(out, quint16(body.size()));
    return out + body;
}

quint16 read16(const QByteArray &body, qsizetype at)
{
    return quint16(quint8(body[at]) | (quint8(body[at + 1]) << 8));
}
quint32 read32(const QByteArray &body, qsizetype at)
{
    return quint32(read16(body, at)) | (quint32(read16(body, at + 2)) << 16);
}
QString fromUcs2(const QByteArray &raw)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()), raw.size() / 2);
}

// How many bytes ALL_HEADERS take at the start of a request: its own length
// when it is one that fits, else none.
qsizetype headersLength(const QByteArray &body)
{
    if (body.size() < 4)
        return 0;
    const quint32 length = read32(body, 0);
    return length >= 4 && length <= quint32(body.size()) ? qsizetype(length) : 0;
}

QByteArray message(quint8 token, qint32 number, quint8 state, quint8 severity, const QString &text,
                   const QString &server, const QString &procedure, qint32 line)
{
    QByteArray body;
    put32(body, quint32(number));
    put8(body, state);
    put8(body, severity);
    putUsText(body, text);
    putBText(body, server);
    putBText(body, procedure);
    put32(body, quint32(line));
    return sized(token, body);
}

void putTypeInfo(QByteArray &out, ColumnType type, bool longText)
{
    switch (type) {
    case ColumnType::Int:
        put8(out, IntN);
        put8(out, 4);
        break;
    case ColumnType::BigInt:
        put8(out, IntN);
        put8(out, 8);
        break;
    case ColumnType::Float:
        put8(out, FloatN);
        put8(out, 8);
        break;
    case ColumnType::DateTime:
        put8(out, DateTimeN);
        put8(out, 8);
        break;
    case ColumnType::Bit:
        put8(out, BitN);
        put8(out, 1);
        break;
    case ColumnType::NVarChar:
        put8(out, NVarCharType);
        put16(out, longText ? 0xFFFF : quint16(kMaxNVarChar * 2));
        out += kCollation;
        break;
    }
}

// datetime: days since 1900-01-01 and 1/300 seconds since midnight.
void putDateTime(QByteArray &out, const QDateTime &when)
{
    static const QDate base(1900, 1, 1);
    qint64 days = base.daysTo(when.date());
    qint64 ticks = (qint64(when.time().msecsSinceStartOfDay()) * 300 + 500) / 1000;
    if (ticks >= qint64(24) * 3600 * 300) {
        ticks = 0;
        ++days;
    }
    put8(out, 8);
    put32(out, quint32(qint32(days)));
    put32(out, quint32(ticks));
}

void putText(QByteArray &out, const QVariant &value, bool longText)
{
    if (!longText) {
        if (value.isNull()) {
            put16(out, 0xFFFF);
            return;
        }
        const QByteArray data = ucs2(value.toString().left(kMaxNVarChar));
        put16(out, quint16(data.size()));
        out += data;
        return;
    }
    // PLP: the whole length, the data in one chunk, an empty chunk.
    if (value.isNull()) {
        put64(out, ~quint64(0));
        return;
    }
    const QByteArray data = ucs2(value.toString());
    put64(out, quint64(data.size()));
    if (!data.isEmpty()) {
        put32(out, quint32(data.size()));
        out += data;
    }
    put32(out, 0);
}

void putValue(QByteArray &out, ColumnType type, const QVariant &value, bool longText)
{
    if (type == ColumnType::NVarChar) {
        putText(out, value, longText);
        return;
    }
    if (value.isNull()) {
        put8(out, 0);
        return;
    }
    switch (type) {
    case ColumnType::Int:
        put8(out, 4);
        put32(out, quint32(value.toInt()));
        break;
    case ColumnType::BigInt:
        put8(out, 8);
        put64(out, quint64(value.toLongLong()));
        break;
    case ColumnType::Float: {
        const double number = value.toDouble();
        quint64 bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        put8(out, 8);
        put64(out, bits);
        break;
    }
    case ColumnType::DateTime:
        putDateTime(out, value.toDateTime());
        break;
    case ColumnType::Bit:
        put8(out, 1);
        put8(out, value.toBool() ? 1 : 0);
        break;
    case ColumnType::NVarChar:
        break;
    }
}

} // namespace

QByteArray frame(quint8 type, const QByteArray &body, int packetSize, quint16 spid)
{
    const qsizetype room = qMax(packetSize, 512) - 8;
    QByteArray out;
    quint8 packetId = 1;
    qsizetype at = 0;
    do {
        const qsizetype part = qMin(room, body.size() - at);
        const bool last = at + part >= body.size();
        const int length = int(part + 8);
        put8(out, type);
        put8(out, last ? 1 : 0);
        put8(out, quint8(length >> 8));
        put8(out, quint8(length & 0xFF));
        put8(out, quint8(spid >> 8));
        put8(out, quint8(spid & 0xFF));
        put8(out, packetId++);
        put8(out, 0);
        out += body.mid(at, part);
        at += part;
    } while (at < body.size());
    return out;
}

bool readLogin(const QByteArray &body, LoginRequest *login, QString *error)
{
    // The fixed part: lengths and flags, then offset and length (in
    // characters) of each text field.
    constexpr int kFixed = 36 + 9 * 4;
    if (body.size() < kFixed) {
        *error = QStringLiteral("login packet too short");
        return false;
    }
    bool ok = true;
    const auto field = [&](int index, bool scrambled) {
        const qsizetype offset = read16(body, 36 + 4 * index);
        const qsizetype length = 2 * qsizetype(read16(body, 38 + 4 * index));
        if (offset + length > body.size()) {
            ok = false;
            return QString();
        }
        QByteArray raw = body.mid(offset, length);
        if (scrambled) {
            // The password's bytes: nibbles swapped, then XOR 0xA5.
            for (char &c : raw) {
                const quint8 b = quint8(c) ^ 0xA5;
                c = char(quint8((b << 4) | (b >> 4)));
            }
        }
        return fromUcs2(raw);
    };
    login->user = field(1, false);
    login->password = field(2, true);
    login->server = field(4, false);
    login->language = field(7, false);
    login->database = field(8, false);
    const quint32 packetSize = read32(body, 8);
    login->packetSize =
        packetSize >= 512 && packetSize <= 32767 ? int(packetSize) : kDefaultPacketSize;
    if (!ok)
        *error = QStringLiteral("login field beyond the packet");
    return ok;
}

QString batchText(const QByteArray &body)
{
    return fromUcs2(body.mid(headersLength(body)));
}

bool readTransactionRequest(const QByteArray &body, TransactionManagerRequest *request,
                            QString *error)
{
    qsizetype at = headersLength(body);
    if (body.size() < at + 2) {
        *error = QStringLiteral("transaction request too short");
        return false;
    }
    request->type = read16(body, at);
    at += 2;
    request->beginAfter = false;
    if (request->type == TmCommitXact || request->type == TmRollbackXact) {
        // The name of the transaction (B_VARCHAR), then the flags.
        if (at < body.size())
            at += 1 + 2 * quint8(body[at]);
        request->beginAfter = at < body.size() && (quint8(body[at]) & 1);
    }
    return true;
}

QByteArray preLoginAnswer()
{
    // Options VERSION (6 bytes at 11) and ENCRYPTION (1 byte at 17), the
    // terminator, then their data: 16.0.2000, encryption 2 (not supported).
    return QByteArray("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF"
                      "\x10\x00\x07\xD0\x00\x00\x02",
                      18);
}

QByteArray loginAck(const QString &serverName)
{
    QByteArray body;
    put8(body, 1); // T-SQL
    body += QByteArray("\x74\x00\x00\x04", 4);
    putBText(body, serverName);
    body += QByteArray("\x10\x00\x07\xD0", 4);
    return sized(LoginAckToken, body);
}

QByteArray envDatabase(const QString &newName, const QString &oldName)
{
    QByteArray body;
    put8(body, 1);
    putBText(body, newName);
    putBText(body, oldName);
    return sized(EnvChange, body);
}

QByteArray envLanguage(const QString &language)
{
    QByteArray body;
    put8(body, 2);
    putBText(body, language);
    putBText(body, QString());
    return sized(EnvChange, body);
}

QByteArray envPacketSize(int newSize, int oldSize)
{
    QByteArray body;
    put8(body, 4);
    putBText(body, QString::number(newSize));
    putBText(body, QString::number(oldSize));
    return sized(EnvChange, body);
}

QByteArray envCollation()
{
    QByteArray body;
    put8(body, 7);
    put8(body, quint8(kCollation.size()));
    body += kCollation;
    put8(body, 0);
    return sized(EnvChange, body);
}

QByteArray envTransaction(TransactionChange change, quint64 descriptor)
{
    QByteArray value;
    put64(value, descriptor);
    QByteArray body;
    put8(body, change);
    if (change == BeginTransaction) {
        put8(body, 8);
        body += value;
        put8(body, 0);
    } else {
        put8(body, 0);
        put8(body, 8);
        body += value;
    }
    return sized(EnvChange, body);
}

QByteArray info(qint32 number, quint8 state, quint8 severity, const QString &message,
                const QString &server, const QString &procedure, qint32 line)
{
    return tds::message(InfoToken, number, state, severity, message, server, procedure, line);
}

QByteArray error(qint32 number, quint8 state, quint8 severity, const QString &message,
                 const QString &server, const QString &procedure, qint32 line)
{
    return tds::message(ErrorToken, number, state, severity, message, server, procedure, line);
}

QByteArray done(quint16 status, quint64 rows, quint16 command, DoneToken token)
{
    QByteArray out;
    put8(out, token);
    put16(out, status);
    put16(out, command);
    put64(out, rows);
    return out;
}

QList<bool> longTextColumns(const QList<Column> &columns, const QList<QVariantList> &rows)
{
    QList<bool> longText(columns.size(), false);
    for (const QVariantList &values : rows) {
        for (qsizetype i = 0; i < columns.size() && i < values.size(); ++i) {
            if (columns[i].type == ColumnType::NVarChar && !longText[i] &&
                values[i].toString().size() > kMaxNVarChar)
                longText[i] = true;
        }
    }
    return longText;
}

QByteArray columnMetadata(const QList<Column> &columns, const QList<bool> &longText)
{
    QByteArray out;
    put8(out, ColMetadata);
    put16(out, quint16(columns.size()));
    for (qsizetype i = 0; i < columns.size(); ++i) {
        put32(out, 0);      // user type
        put16(out, 0x0009); // nullable, updatable unknown
        putTypeInfo(out, columns[i].type, longText.value(i));
        putBText(out, columns[i].name);
    }
    return out;
}

QByteArray row(const QList<Column> &columns, const QVariantList &values,
               const QList<bool> &longText)
{
    QByteArray out;
    put8(out, RowToken);
    for (qsizetype i = 0; i < columns.size(); ++i)
        putValue(out, columns[i].type, values.value(i), longText.value(i));
    return out;
}

QByteArray answers(const QList<Answer> &answers, const QString &server)
{
    constexpr quint16 kSelect = 0xC1;
    QByteArray out;
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const Answer &answer = answers[i];
        const quint16 more = i + 1 < answers.size() ? DoneMore : DoneFinal;
        switch (answer.kind) {
        case Answer::Rows: {
            const QList<bool> longText = longTextColumns(answer.columns, answer.rows);
            out += columnMetadata(answer.columns, longText);
            for (const QVariantList &values : answer.rows)
                out += row(answer.columns, values, longText);
            out += done(more | DoneCount, quint64(answer.rows.size()), kSelect);
            break;
        }
        case Answer::Count:
            out += done(more | DoneCount, quint64(qMax<qint64>(answer.count, 0)));
            break;
        case Answer::Done:
            out += done(more);
            break;
        case Answer::Error:
            out += error(answer.number, 1, quint8(qBound(0, answer.severity, 25)), answer.message,
                         server);
            out += done(more | DoneError);
            break;
        }
    }
    if (answers.isEmpty())
        out += done(DoneFinal);
    return out;
}

} // namespace standin::tds
