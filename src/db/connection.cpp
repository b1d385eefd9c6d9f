#include "db/connection.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "db/client_library.h"
#include "db/status_text.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::db {

using namespace Firebird;

namespace {

constexpr unsigned kCharSetNone = 0;
// Room for the text form of any number, date, time or boolean.
constexpr unsigned kScalarTextLength = 64;

IMaster* Master() {
  static IMaster* master = Client().getMasterInterface();
  return master;
}

// A status object for one call sequence, disposed when it goes.
class Status {
 public:
  Status() : raw_(Master()->getStatus()), wrapper_(raw_) {}
  ~Status() { raw_->dispose(); }
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;
  ThrowStatusWrapper* operator&() { return &wrapper_; }

 private:
  IStatus* raw_;
  ThrowStatusWrapper wrapper_;
};

[[noreturn]] void Raise(const FbException& e) {
  std::string text = InterpretStatus(e.getStatus()->getErrors());
  if (text.empty()) text = "Unknown Firebird client error";
  throw KorvaError(text);
}

// Runs a sequence of client calls; a client failure becomes a KorvaError with
// the client's wording.
template <typename Work>
auto Guarded(Work&& work) {
  try {
    return work();
  } catch (const FbException& e) {
    Raise(e);
  }
}

bool IsTrue(const std::string& value) {
  return text::SameText1252(text::Trim(value), "True");
}

// Holds one OO API object (statement, cursor, metadata, builder, blob,
// transaction, attachment) and releases it when it goes. A call that ends
// the object itself when it succeeds (free, close, commit, rollback, detach)
// is followed by Ended(), or goes through End() when a failed one must
// release it as well.
template <typename T>
class Held {
 public:
  Held() = default;
  explicit Held(T* object) : object_(object) {}
  ~Held() { Reset(); }
  Held(Held&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Held& operator=(Held&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  T* operator->() const { return object_; }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  void Reset() {
    if (object_) std::exchange(object_, nullptr)->release();
  }
  // The call just made ended the object: nothing is left to release.
  void Ended() { object_ = nullptr; }
  template <typename Call>
  void End(Call call) {
    try {
      call(object_);
    } catch (...) {
      Reset();
      throw;
    }
    Ended();
  }

 private:
  T* object_ = nullptr;
};

// Ends the object; a failure of the server's is of no interest to the
// caller (the object is released all the same).
template <typename T, typename Call>
void EndQuietly(Held<T>& held, Call call) {
  try {
    held.End(call);
  } catch (const FbException&) {
  }
}

struct XpbBuffer {
  std::vector<unsigned char> bytes;
  unsigned Length() const { return static_cast<unsigned>(bytes.size()); }
  const unsigned char* Data() const { return bytes.data(); }
};

// A parameter-buffer builder, disposed however its use ends.
class Xpb {
 public:
  Xpb(unsigned kind, ThrowStatusWrapper* status)
      : builder_(Master()->getUtilInterface()->getXpbBuilder(status, kind, nullptr, 0)) {}
  ~Xpb() { builder_->dispose(); }
  Xpb(const Xpb&) = delete;
  Xpb& operator=(const Xpb&) = delete;
  IXpbBuilder* operator->() const { return builder_; }
  IXpbBuilder* get() const { return builder_; }
  XpbBuffer Bytes(ThrowStatusWrapper* status) const {
    XpbBuffer out;
    const unsigned char* data = builder_->getBuffer(status);
    out.bytes.assign(data, data + builder_->getBufferLength(status));
    return out;
  }

 private:
  IXpbBuilder* builder_;
};

void InsertText(IXpbBuilder* builder, ThrowStatusWrapper* status, unsigned char tag,
                const std::string& value) {
  builder->insertBytes(status, tag, value.data(), static_cast<unsigned>(value.size()));
}

}  // namespace

std::string ParameterValue(const ParameterList& params, std::string_view name) {
  for (const std::string& line : params) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (text::SameText1252(std::string_view(line).substr(0, eq), name)) return line.substr(eq + 1);
  }
  return {};
}

bool HasParameter(const ParameterList& params, std::string_view name) {
  for (const std::string& line : params) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && text::SameText1252(std::string_view(line).substr(0, eq), name))
      return true;
  }
  return false;
}

std::optional<std::size_t> QueryResult::ColumnIndex(std::string_view name) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (text::SameText1252(columns[i], name)) return i;
  return std::nullopt;
}

struct Connection::Impl {
  // Taken at the first open, not when the connection object is made: where the
  // client library is loaded at run time, a program without one still starts
  // and fails only when it reaches for the database.
  IProvider* provider = nullptr;
  Held<IAttachment> attachment;
  Held<ITransaction> transaction;  // the explicit one
  Held<ITransaction> retained;     // context kept open by commit-retaining
  unsigned dialect = 3;
  bool trimChar = false;
  bool waitOnLocks = true;
  bool commitRetain = false;
  IsolationLevel implicitIsolation = IsolationLevel::ReadCommitted;

  ~Impl() {
    if (provider) provider->release();
  }

  IProvider* Provider() {
    if (!provider) provider = Master()->getDispatcher();
    return provider;
  }

  XpbBuffer TransactionParameters(IsolationLevel isolation) {
    Status status;
    return Guarded([&] {
      Xpb tpb(IXpbBuilder::TPB, &status);
      if (isolation == IsolationLevel::RepeatableRead) {
        tpb->insertTag(&status, isc_tpb_concurrency);
      } else {
        tpb->insertTag(&status, isc_tpb_read_committed);
        tpb->insertTag(&status, isc_tpb_rec_version);
      }
      tpb->insertTag(&status, isc_tpb_write);
      tpb->insertTag(&status, waitOnLocks ? isc_tpb_wait : isc_tpb_nowait);
      return tpb.Bytes(&status);
    });
  }

  Held<ITransaction> Start(IsolationLevel isolation) {
    const XpbBuffer tpb = TransactionParameters(isolation);
    Status status;
    return Held<ITransaction>(
        Guarded([&] { return attachment->startTransaction(&status, tpb.Length(), tpb.Data()); }));
  }

  // A context kept by commit-retaining holds nothing uncommitted; ending it
  // only frees the server's snapshot.
  void EndRetained() {
    if (!retained) return;
    Status status;
    EndQuietly(retained, [&](ITransaction* t) { t->commit(&status); });
  }
};

Connection::Connection(std::string name)
    : name_(std::move(name)), impl_(std::make_unique<Impl>()) {}

Connection::~Connection() {
  Close();
}

bool Connection::IsOpen() const {
  return static_cast<bool>(impl_->attachment);
}

bool Connection::InTransaction() const {
  return static_cast<bool>(impl_->transaction);
}

void Connection::Notify(std::string_view sql) const {
  if (observer_) observer_(sql);
}

void Connection::Open() {
  if (IsOpen()) return;
  if (beforeConnect_) params_ = beforeConnect_();

  Impl& d = *impl_;
  const auto dialect = text::TryStrToInt(ParameterValue(params_, "SQLDialect"));
  d.dialect = dialect && *dialect >= 1 && *dialect <= 3 ? static_cast<unsigned>(*dialect) : 3;
  d.trimChar = IsTrue(ParameterValue(params_, "Trim Char"));
  d.commitRetain = IsTrue(ParameterValue(params_, "CommitRetain"));
  d.waitOnLocks =
      !HasParameter(params_, "WaitOnLocks") || IsTrue(ParameterValue(params_, "WaitOnLocks"));
  d.implicitIsolation =
      text::SameText1252(text::Trim(ParameterValue(params_, "Interbase TransIsolation")),
                         "RepeatableRead")
          ? IsolationLevel::RepeatableRead
          : IsolationLevel::ReadCommitted;

  const std::string database = ParameterValue(params_, "Database");
  const std::string user = ParameterValue(params_, "User_Name");
  const std::string password = ParameterValue(params_, "Password");
  const std::string role = ParameterValue(params_, "RoleName");
  const std::string charSet = ParameterValue(params_, "ServerCharSet");

  Status status;
  Guarded([&] {
    Xpb dpb(IXpbBuilder::DPB, &status);
    if (!user.empty()) InsertText(dpb.get(), &status, isc_dpb_user_name, user);
    if (!password.empty()) InsertText(dpb.get(), &status, isc_dpb_password, password);
    dpb->insertInt(&status, isc_dpb_sql_dialect, static_cast<int>(d.dialect));
    if (!role.empty()) InsertText(dpb.get(), &status, isc_dpb_sql_role_name, role);
    if (!charSet.empty()) InsertText(dpb.get(), &status, isc_dpb_lc_ctype, charSet);
    const XpbBuffer buffer = dpb.Bytes(&status);
    d.attachment = Held<IAttachment>(
        d.Provider()->attachDatabase(&status, database.c_str(), buffer.Length(), buffer.Data()));
  });
  ++generation_;
}

void Connection::Close() {
  Impl& d = *impl_;
  if (d.transaction) {
    Status status;
    EndQuietly(d.transaction, [&](ITransaction* t) { t->rollback(&status); });
  }
  d.EndRetained();
  if (d.attachment) {
    Status status;
    EndQuietly(d.attachment, [&](IAttachment* a) { a->detach(&status); });
  }
}

void Connection::StartTransaction(const TransactionDesc& desc) {
  if (InTransaction()) throw KorvaError("A transaction is already active on " + name_);
  Open();
  impl_->EndRetained();
  impl_->transaction = impl_->Start(desc.isolationLevel);
}

void Connection::Commit(const TransactionDesc&) {
  Impl& d = *impl_;
  if (!d.transaction) throw KorvaError("No transaction is active on " + name_);
  if (commitObserver_) commitObserver_();
  Status status;
  // A failed commit leaves the transaction open for the caller's rollback.
  Guarded([&] {
    if (d.commitRetain) {
      d.transaction->commitRetaining(&status);
      d.retained = std::move(d.transaction);
    } else {
      d.transaction->commit(&status);
      d.transaction.Ended();
    }
  });
}

void Connection::Rollback(const TransactionDesc&) {
  Impl& d = *impl_;
  if (!d.transaction) return;
  Status status;
  // Nothing more can be done with a transaction the server refused to end.
  Guarded([&] { d.transaction.End([&](ITransaction* t) { t->rollback(&status); }); });
}

// Runs work(transaction) in the explicit transaction, or in an implicit one
// that is committed when the work succeeds and rolled back when it fails.
template <typename Work>
auto Connection::InTransactionScope(Work&& work) {
  if (!IsOpen()) throw KorvaError("Connection " + name_ + " is not open");
  Impl& d = *impl_;
  if (d.transaction) return work(d.transaction.get());
  Held<ITransaction> implicit = d.Start(d.implicitIsolation);
  try {
    auto result = work(implicit.get());
    Status status;
    Guarded([&] { implicit->commit(&status); });
    implicit.Ended();
    return result;
  } catch (...) {
    Status status;
    EndQuietly(implicit, [&](ITransaction* t) { t->rollback(&status); });
    throw;
  }
}

void Connection::ExecuteDirect(std::string_view sql) {
  Notify(sql);
  const std::string statement(sql);
  InTransactionScope([&](ITransaction* transaction) {
    Status status;
    Guarded([&] {
      impl_->attachment->execute(&status, transaction, static_cast<unsigned>(statement.size()),
                                 statement.c_str(), impl_->dialect, nullptr, nullptr, nullptr,
                                 nullptr);
    });
    return 0;
  });
}

namespace {

// The fields of `described` as text: each field that `lengthOf` gives a
// length becomes a nullable VARCHAR of that length (at least one byte), in
// its own character set when it is text and in none otherwise, so that the
// server converts between the field's type and text. A field without a
// length keeps its own type.
template <typename LengthOf>
Held<IMessageMetadata> DescribeAsText(IMessageMetadata* described, ThrowStatusWrapper* status,
                                      LengthOf lengthOf) {
  const unsigned count = described->getCount(status);
  Held<IMetadataBuilder> builder(described->getBuilder(status));
  for (unsigned i = 0; i < count; ++i) {
    const unsigned type = described->getType(status, i) & ~1u;
    const std::optional<unsigned> length = lengthOf(i, type);
    if (!length) continue;
    const bool textual = type == SQL_TEXT || type == SQL_VARYING;
    builder->setType(status, i, SQL_VARYING + 1);
    builder->setSubType(status, i, 0);
    builder->setScale(status, i, 0);
    builder->setCharSet(status, i, textual ? described->getCharSet(status, i) : kCharSetNone);
    builder->setLength(status, i, *length == 0 ? 1 : *length);
  }
  return Held<IMessageMetadata>(builder->getMetadata(status));
}

// Fetch layout: every column but blobs is asked for as VARCHAR, so the server
// does the conversion to text and the program sees what isql would show.
struct TextLayout {
  Held<IMessageMetadata> metadata;
  std::vector<std::string> names;
  std::vector<bool> fixedWidth;  // CHAR columns, for "Trim Char"
  std::vector<bool> blob;
};

TextLayout OutputLayout(IStatement* statement, ThrowStatusWrapper* status) {
  const Held<IMessageMetadata> described(statement->getOutputMetadata(status));
  TextLayout layout;
  const unsigned count = described->getCount(status);
  for (unsigned i = 0; i < count; ++i) {
    const unsigned type = described->getType(status, i) & ~1u;
    layout.names.emplace_back(described->getAlias(status, i));
    layout.fixedWidth.push_back(type == SQL_TEXT);
    layout.blob.push_back(type == SQL_BLOB);
  }
  layout.metadata = DescribeAsText(described.get(), status,
                                   [&](unsigned i, unsigned type) -> std::optional<unsigned> {
                                     if (type == SQL_BLOB) return std::nullopt;
                                     if (type == SQL_TEXT || type == SQL_VARYING)
                                       return described->getLength(status, i);
                                     return kScalarTextLength;
                                   });
  return layout;
}

// Every parameter is sent as VARCHAR of its value's length.
Held<IMessageMetadata> InputLayout(IStatement* statement, const std::vector<SqlValue>& params,
                                   ThrowStatusWrapper* status) {
  const Held<IMessageMetadata> described(statement->getInputMetadata(status));
  const unsigned count = described->getCount(status);
  if (count != params.size()) {
    throw KorvaError(text::Format(
        "Statement has %s parameters, %s values were given",
        {text::IntToStr(count), text::IntToStr(static_cast<std::int64_t>(params.size()))}));
  }
  return DescribeAsText(described.get(), status,
                        [&](unsigned i, unsigned) -> std::optional<unsigned> {
                          return params[i] ? static_cast<unsigned>(params[i]->size()) : 0u;
                        });
}

std::string ReadBlob(IAttachment* attachment, ITransaction* transaction, ISC_QUAD* id,
                     ThrowStatusWrapper* status) {
  Held<IBlob> blob(attachment->openBlob(status, transaction, id, 0, nullptr));
  std::string bytes;
  char chunk[32768];
  for (;;) {
    unsigned got = 0;
    const int result = blob->getSegment(status, sizeof chunk, chunk, &got);
    if (result == IStatus::RESULT_NO_DATA) break;
    bytes.append(chunk, got);
  }
  blob->close(status);
  blob.Ended();
  return bytes;
}

Held<IStatement> Prepare(IAttachment* attachment, ITransaction* transaction, const std::string& sql,
                         unsigned dialect, ThrowStatusWrapper* status) {
  return Held<IStatement>(attachment->prepare(status, transaction,
                                              static_cast<unsigned>(sql.size()), sql.c_str(),
                                              dialect, IStatement::PREPARE_PREFETCH_METADATA));
}

}  // namespace

QueryResult Connection::Query(std::string_view sql) {
  Notify(sql);
  const std::string statementText(sql);
  return InTransactionScope([&](ITransaction* transaction) {
    Impl& d = *impl_;
    QueryResult result;
    Status status;
    Guarded([&] {
      Held<IStatement> statement =
          Prepare(d.attachment.get(), transaction, statementText, d.dialect, &status);
      const TextLayout layout = OutputLayout(statement.get(), &status);
      result.columns = layout.names;
      std::vector<unsigned char> buffer(layout.metadata->getMessageLength(&status));
      const unsigned count = layout.metadata->getCount(&status);

      auto takeRow = [&] {
        Row row;
        for (unsigned i = 0; i < count; ++i) {
          const auto* nullFlag = reinterpret_cast<const short*>(
              buffer.data() + layout.metadata->getNullOffset(&status, i));
          const unsigned char* field = buffer.data() + layout.metadata->getOffset(&status, i);
          std::string value;
          const bool isNull = *nullFlag != 0;
          if (!isNull) {
            if (layout.blob[i]) {
              ISC_QUAD id;
              std::memcpy(&id, field, sizeof id);
              value = ReadBlob(d.attachment.get(), transaction, &id, &status);
            } else {
              std::uint16_t length;
              std::memcpy(&length, field, sizeof length);
              value.assign(reinterpret_cast<const char*>(field) + 2, length);
              if (layout.fixedWidth[i] && d.trimChar) value.erase(value.find_last_not_of(' ') + 1);
            }
          }
          row.values.push_back(std::move(value));
          row.nulls.push_back(isNull);
        }
        result.rows.push_back(std::move(row));
      };

      const unsigned type = statement->getType(&status);
      if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
        Held<IResultSet> cursor(statement->openCursor(&status, transaction, nullptr, nullptr,
                                                      layout.metadata.get(), 0));
        while (cursor->fetchNext(&status, buffer.data()) == IStatus::RESULT_OK) takeRow();
        cursor->close(&status);
        cursor.Ended();
      } else {
        statement->execute(&status, transaction, nullptr, nullptr,
                           count ? layout.metadata.get() : nullptr,
                           count ? buffer.data() : nullptr);
        if (count) takeRow();
      }
      statement->free(&status);
      statement.Ended();
    });
    return result;
  });
}

std::uint64_t Connection::Execute(std::string_view sql, const std::vector<SqlValue>& params) {
  Notify(sql);
  const std::string statementText(sql);
  return InTransactionScope([&](ITransaction* transaction) {
    const Impl& d = *impl_;
    Status status;
    return Guarded([&] {
      Held<IStatement> statement =
          Prepare(d.attachment.get(), transaction, statementText, d.dialect, &status);
      const Held<IMessageMetadata> input = InputLayout(statement.get(), params, &status);
      const unsigned count = static_cast<unsigned>(params.size());
      std::vector<unsigned char> buffer(input->getMessageLength(&status));
      for (unsigned i = 0; i < count; ++i) {
        short nullFlag = params[i] ? 0 : -1;
        std::memcpy(buffer.data() + input->getNullOffset(&status, i), &nullFlag, sizeof nullFlag);
        if (!params[i]) continue;
        if (params[i]->size() > 0xFFFF) throw KorvaError("Parameter value too long");
        const auto length = static_cast<std::uint16_t>(params[i]->size());
        unsigned char* field = buffer.data() + input->getOffset(&status, i);
        std::memcpy(field, &length, sizeof length);
        std::copy_n(params[i]->data(), length, field + 2);
      }
      statement->execute(&status, transaction, input.get(), buffer.data(), nullptr, nullptr);
      const std::uint64_t changed = statement->getAffectedRecords(&status);
      statement->free(&status);
      statement.Ended();
      return changed;
    });
  });
}

}  // namespace korva::db
