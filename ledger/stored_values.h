#pragma once

namespace fa {

// Checks, before anything is written, the stored values that the rebuild's
// statements turn into numbers (Val, CStr(Val()) and cast(… as float)) for
// the periods of Periods. The file database's engine stops at a Null there,
// while SQLite and SQL Server would carry a Null (or a text read as 0) on
// into fa_Total; a value that cannot give a right table stops the run
// instead. Throws AppError: kStoredValuesMessage, then one line per bad
// column naming the table, the column and the first few records (the
// card's sCardNum or the voucher's snum) with their count.
//
// Guarded: fa_Cards.sCardID of every record the opening and closing states
// can choose (Null; in the file database also a text that Val and CStr do
// not give back as it is, since the chosen id is matched as that text);
// fa_Vouchers.sBeforeVoucher and fa_EvaluateVouchers.dblValueBefore of the
// vouchers behind the value changes dated in those periods (Null, or not a
// number).
void CheckConvertedValues();

} // namespace fa
