// The database plug-in's entry: the table of what the recording engine and the front ends call
// of PostgreSQL.

#include "recording/Plugins.h"
#include "recording/Postgres.h"

namespace quillbox::recording {
namespace {

std::unique_ptr<DatabaseSink> MakeSink(const std::string& connection,
                                       std::function<void(const std::string&)> say) {
  return MakePostgresSink(connection, std::move(say));
}

constexpr DatabasePlugin kPlugin{
    .abi = kRecordingPluginAbi,
    .where = &PostgresWhere,
    .connect = &ConnectPostgres,
    .makeSink = &MakeSink,
};

}  // namespace
}  // namespace quillbox::recording

extern "C" __attribute__((visibility("default"))) const quillbox::recording::DatabasePlugin*
QuillboxDatabasePlugin() {
  return &quillbox::recording::kPlugin;
}
