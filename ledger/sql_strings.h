#pragma once

#include <QString>

namespace fa {

// Raised when a text is asked for by a number the table does not hold.
inline constexpr qint32 kResourceNotFound = 326;

// Numbers of the statement texts of the recalculation. The card filter of
// step kind k (3 to 8) is 1000 + k; 1002 and 1009 do not exist.
enum SqlStringId : int {
    TotalInsertHead = 101,    // INSERT head of the zero rows of fa_Total
    TotalZeroRowValues = 102, // VALUES of one zero row: |1 dept, |2 type, |3 period
    FoldJoin = 104,           // fa_Total joined with fqsum on dept, type and period
    CardInsertHead = 105,     // INSERT INTO fq: |1 the id expression
    NotDisposedFilter = 107,
    GroupByDeptType = 108,
    SumInsertHead = 109, // INSERT INTO fqsum naming its sixteen columns
    DeleteTotal = 110,
    CreateFqServer = 111,
    DeleteFq = 112,
    CreateFqsumServer = 113,
    EmptyRowsCondition = 114, // |1 period
    DeleteFqsum = 115,
    DeptTypeList = 117,
    CreateFqFile = 121,
    CreateFqsumFile = 123,
    OpeningSums = 201,      // |1 period, |2 number of the depreciation column
    ClosingSums = 202,      // |1 period
    OperationSums = 203,    // |1 period
    VoucherSums = 205,      // |1 period, |2 value before the change
    EvaluationSums = 208,   // |1 period, |2 value before the evaluation
    CarriedFigures = 209,   // |1 period, |2 source period
    YearToDateSums = 210,   // |1 period, |2 end date, |3 start date
    CardStateFilter = 1001, // |1 comparison operator and date literal
};

// The text stored under a number, whole and unchanged (blanks included).
// Throws AppError(kResourceNotFound) for a number the table does not hold.
QString LoadSqlString(int number);

} // namespace fa
