int placeholder_ledger = 0;
