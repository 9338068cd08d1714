#include "ops/store/Stores.h"

#include "ops/store/PgStore.h"

std::unique_ptr<ISerialStore> MakeSerialStore(const std::string& where, bool reset) {
    if (IsConnectionString(where))
        return std::make_unique<CPgSerialStore>(where);
    return std::make_unique<CSerialFileStore>(where, reset);
}

std::unique_ptr<IRecordSink> MakeRecordSink(const std::string& where) {
    if (IsConnectionString(where))
        return std::make_unique<CPgRecordSink>(where);
    return std::make_unique<CJsonLogSink>(where);
}
