#include "ledger/stored_values.h"

#include "data/app_error.h"
#include "data/db_state.h"
#include "data/dialect.h"
#include "data/value_conversion.h"
#include "ledger/periods.h"

#include <QSet>
#include <QStringList>

namespace fa {

namespace {

const QString kStoredValuesMessage = QStringLiteral("固定资产卡片或凭证的数据有误，不能计算总帐");

// How many records a message names before it only counts the rest.
constexpr int kNamedRecords = 5;

// The records of one column whose values cannot be read as the statements
// read them.
struct BadColumn
{
    QString table;
    QString column;
    QString recordColumn;
    QString problem;
    QStringList named;
    QSet<QString> records;

    void add(const QVariant &record, const QVariant &value)
    {
        const QString name = record.isNull() ? QStringLiteral("(空)") : record.toString();
        if (records.contains(name))
            return;
        records.insert(name);
        if (named.size() < kNamedRecords) {
            const QString shown = value.isNull()
                                      ? QStringLiteral("空")
                                      : QLatin1Char('"') + value.toString() + QLatin1Char('"');
            named << name + QStringLiteral("（") + shown + QStringLiteral("）");
        }
    }

    QString line() const
    {
        QString text = table + QStringLiteral(" 表 ") + column + QStringLiteral(" 列的值") +
                       problem + QStringLiteral("：") + recordColumn + QLatin1Char(' ') +
                       named.join(QStringLiteral("、"));
        if (records.size() > named.size())
            text += QStringLiteral(" 等");
        return text + QStringLiteral("，共 %1 条").arg(records.size());
    }
};

bool isNumber(const QVariant &value)
{
    try {
        NumberValue(value);
        return true;
    } catch (const AppError &) {
        return false;
    }
}

// Runs a query of (record, value) rows on AccConn; each row whose value
// `bad` refuses is noted.
template <typename Bad> void collect(const QString &sql, BadColumn &column, Bad &&bad)
{
    SqlText = sql;
    if (!RunSql(*WorkRs, SqlText, *AccConn))
        RaiseStepError(QStringLiteral("打开卡片表错误"));
    while (!WorkRs->Eof()) {
        const QVariant value = WorkRs->Fields(1);
        if (bad(value))
            column.add(WorkRs->Fields(0), value);
        WorkRs->MoveNext();
    }
    WorkRs->Close();
}

// Record ids: the opening and closing states of kinds 1 and 2 read every
// record entered up to the end of period 12.
BadColumn cardIds(const QString &lastEnd)
{
    BadColumn ids{QStringLiteral("fa_Cards"),
                  QStringLiteral("sCardID"),
                  QStringLiteral("sCardNum"),
                  IsAccess ? QStringLiteral("为空或不是数字的标准写法") : QStringLiteral("为空"),
                  {},
                  {}};
    const QString records = QStringLiteral("SELECT [sCardNum],[sCardID] FROM [fa_Cards] WHERE "
                                           "[dInputDate]<=") +
                            lastEnd;
    const auto any = [](const QVariant &) { return true; };
    collect(records + QStringLiteral(" AND [sCardID] Is Null"), ids, any);
    // Only once no id is Null: the file database's Val stops at a Null, and
    // its engine need not spare the rows that the first test already refuses.
    // The winner of a card goes into fq as CStr(Val(id)) and is matched with
    // the record's own text, so any other spelling loses the card.
    if (IsAccess && ids.records.isEmpty()) {
        collect(records + QStringLiteral(" AND [sCardID] Is Not Null AND "
                                         "CStr(Val([sCardID]))<>[sCardID]"),
                ids, any);
    }
    return ids;
}

// Vouchers behind the value changes of the given codes, dated from the first
// day of the first period to the last of period 12.
BadColumn voucherValues(const QString &table, const QString &column, const QString &joinColumn,
                        const QString &codes, const QString &firstBegin, const QString &lastEnd)
{
    BadColumn values{table, column, QStringLiteral("snum"), QStringLiteral("为空或不是数字"),
                     {},    {}};
    collect(QStringLiteral("SELECT v.[snum],v.[%1] FROM [fa_Cards] AS a INNER JOIN [%2] AS v ON "
                           "a.[%3]=v.[snum] WHERE a.[iOptType] in(%4) AND a.[dTransDate] between "
                           "%5 and %6")
                .arg(column, table, joinColumn, codes, firstBegin, lastEnd),
            values, [](const QVariant &value) { return !isNumber(value); });
    return values;
}

} // namespace

void CheckConvertedValues()
{
    const QString firstBegin = DateLiteral(Periods[Periods.lowerBound()].BeginDate);
    const QString lastEnd = DateLiteral(Periods[12].EndDate);
    QStringList lines;
    for (const BadColumn &column :
         {cardIds(lastEnd),
          voucherValues(QStringLiteral("fa_Vouchers"), QStringLiteral("sBeforeVoucher"),
                        QStringLiteral("sVouchernum"), QStringLiteral("4,5"), firstBegin, lastEnd),
          voucherValues(QStringLiteral("fa_EvaluateVouchers"), QStringLiteral("dblValueBefore"),
                        QStringLiteral("sEvaluateNum"), QStringLiteral("18"), firstBegin,
                        lastEnd)}) {
        if (!column.records.isEmpty())
            lines << column.line();
    }
    if (!lines.isEmpty())
        RaiseAppError(kStoredValuesMessage + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
}

} // namespace fa
