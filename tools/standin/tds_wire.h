#pragma once

#include "tools/standin/engine.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The TDS 7.4 side of tds-standin: the client's messages read from their
// bytes, and the server's answers written as tokens. What FreeTDS sends and
// expects of a SQL Server, no more.

namespace standin::tds {

// Message types of the packet header.
enum PacketType : quint8 {
    SqlBatch = 0x01,
    Reply = 0x04,
    Attention = 0x06,
    TransactionManager = 0x0E,
    Login7 = 0x10,
    PreLogin = 0x12
};

// DONE status bits.
enum DoneStatus : quint16 {
    DoneFinal = 0x00,
    DoneMore = 0x01,
    DoneError = 0x02,
    DoneCount = 0x10,
    DoneAttention = 0x20
};

// DONE token kinds: of a batch, of a statement inside a procedure, of a
// procedure.
enum DoneToken : quint8 { Done = 0xFD, DoneInProc = 0xFF, DoneProc = 0xFE };

// Transaction-manager request types.
enum TransactionRequest : quint16 {
    TmGetDtcAddress = 0,
    TmBeginXact = 5,
    TmCommitXact = 7,
    TmRollbackXact = 8
};

// ENVCHANGE types of a transaction's start and end.
enum TransactionChange : quint8 {
    BeginTransaction = 8,
    CommitTransaction = 9,
    RollbackTransaction = 10
};

// The packet size both sides use when the client asks for none it may have.
constexpr int kDefaultPacketSize = 4096;

// What a client puts in its login packet.
struct LoginRequest
{
    QString user;
    QString password;
    QString server;
    QString database;
    QString language;
    int packetSize = kDefaultPacketSize;
};

// A transaction-manager request: its type and whether a new transaction
// begins right after the commit or rollback.
struct TransactionManagerRequest
{
    quint16 type = 0;
    bool beginAfter = false;
};

// A message's body split into packets of at most packetSize bytes with their
// headers; `spid` is the server's number of the session.
QByteArray frame(quint8 type, const QByteArray &body, int packetSize, quint16 spid);

// Reading the client's messages; false (with the reason) for a malformed one.
bool readLogin(const QByteArray &body, LoginRequest *login, QString *error);
// The batch text behind the ALL_HEADERS.
QString batchText(const QByteArray &body);
bool readTransactionRequest(const QByteArray &body, TransactionManagerRequest *request,
                            QString *error);

// The answer to PRELOGIN: version, and encryption not supported, so that the
// login comes in clear.
QByteArray preLoginAnswer();

// Tokens.
QByteArray loginAck(const QString &serverName);
QByteArray envDatabase(const QString &newName, const QString &oldName);
QByteArray envLanguage(const QString &language);
QByteArray envPacketSize(int newSize, int oldSize);
QByteArray envCollation();
// A transaction's descriptor as the new value on BeginTransaction, as the old
// one on its end.
QByteArray envTransaction(TransactionChange change, quint64 descriptor);
QByteArray info(qint32 number, quint8 state, quint8 severity, const QString &message,
                const QString &server, const QString &procedure = {}, qint32 line = 1);
QByteArray error(qint32 number, quint8 state, quint8 severity, const QString &message,
                 const QString &server, const QString &procedure = {}, qint32 line = 1);
QByteArray done(quint16 status, quint64 rows = 0, quint16 command = 0, DoneToken token = Done);
// Which NVarChar columns go as nvarchar(max): those with a text longer than
// nvarchar(4000) takes in any of `rows`.
QList<bool> longTextColumns(const QList<Column> &columns, const QList<QVariantList> &rows);
QByteArray columnMetadata(const QList<Column> &columns, const QList<bool> &longText);
QByteArray row(const QList<Column> &columns, const QVariantList &values,
               const QList<bool> &longText);

// The tokens of one batch's answers, the last DONE without DoneMore.
QByteArray answers(const QList<Answer> &answers, const QString &server);

} // namespace standin::tds
