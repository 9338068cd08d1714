#pragma once
// The store a name chooses: a connection string (postgresql://...) a database, anything else a file.

#include <memory>
#include <string>

#include "ops/ProductionLog.h"
#include "ops/Serial.h"

std::unique_ptr<ISerialStore> MakeSerialStore(const std::string& where, bool reset);
std::unique_ptr<IRecordSink> MakeRecordSink(const std::string& where);
