// Parameter substitution: a statement and one value in any C and SQL type.
// Whatever the input, a statement that is let through has every marker
// replaced by a literal that opens and closes its own quotes, so no value can
// end a string early or add a marker, and it fits mdbtools' buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parameters.h"

using namespace access_driver;

namespace {

constexpr SQLSMALLINT kSqlTypes[] = {SQL_VARCHAR, SQL_WVARCHAR, SQL_INTEGER,        SQL_BIGINT,    SQL_DOUBLE,
                                     SQL_NUMERIC, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP, SQL_TYPE_TIME, SQL_BINARY};
constexpr SQLSMALLINT kCTypes[] = {SQL_C_CHAR,    SQL_C_WCHAR,     SQL_C_SLONG,          SQL_C_SBIGINT,
                                   SQL_C_UBIGINT, SQL_C_DOUBLE,    SQL_C_FLOAT,          SQL_C_TYPE_DATE,
                                   SQL_C_TYPE_TIME, SQL_C_TYPE_TIMESTAMP, SQL_C_BIT};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const SQLSMALLINT sql_type = kSqlTypes[data[0] % std::size(kSqlTypes)];
  const SQLSMALLINT c_type = kCTypes[data[1] % std::size(kCTypes)];
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::size_t split = rest.find('\n');
  const std::string sql = split == std::string::npos ? "select a from t where a = ?" : rest.substr(0, split);
  std::string value = split == std::string::npos ? rest : rest.substr(split + 1);
  // Fixed-size C types read a whole struct: give them one, zero-padded.
  value.resize(std::max<std::size_t>(value.size(), 32) + 2, '\0');
  SQLLEN length = static_cast<SQLLEN>(value.size() - 2);
  ParameterBinding binding{c_type, sql_type, value.data(), length, &length};

  const auto markers = FindMarkers(sql);
  std::map<SQLUSMALLINT, ParameterBinding> parameters;
  for (std::size_t n = 1; n <= markers.size(); ++n) parameters[static_cast<SQLUSMALLINT>(n)] = binding;
  const Substitution out = Substitute(sql, markers, parameters);
  if (const auto* text = std::get_if<std::string>(&out)) {
    if (text->size() > kMaxStatementBytes) std::abort();
    if (markers.empty()) return 0;
    if (!FindMarkers(*text).empty()) std::abort();
    const Literal literal = MakeLiteral(binding);
    const auto* spelled = std::get_if<std::string>(&literal);
    if (!spelled) std::abort();  // the statement went through, so the value did
    if (!FindMarkers(*spelled).empty() || spelled->find('\0') != std::string::npos) std::abort();
    // A literal ends outside any quote: its quotes come in pairs and none is doubled.
    if (spelled->front() == '\'' && spelled->substr(1, spelled->size() - 2).find('\'') != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
