#pragma once
// The database plug-in's own: the libpq implementations of Database and DatabaseSink, which its
// entry (DatabasePlugin.cpp) hands out. Nothing outside the plug-in includes libpq.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "recording/Database.h"
#include "recording/DatabaseSink.h"

namespace quillbox::recording {

// Connects; nullptr with `error` (libpq's reason, on one line).
std::unique_ptr<Database> ConnectPostgres(const std::string& connection, const char* application,
                                          std::string& error);

// Where a connection string points ("database D on H"), without anything secret in it.
std::string PostgresWhere(const std::string& connection);

// The shipping sink. `maxQueuedCodes`: the queue's bound, in codes.
std::unique_ptr<DatabaseSink> MakePostgresSink(const std::string& connection,
                                               std::function<void(const std::string&)> say,
                                               std::size_t maxQueuedCodes = 32u << 20);

// libpq's message on one line, without the trailing newline.
std::string OneLine(const char* text);

}  // namespace quillbox::recording
