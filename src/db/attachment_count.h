#pragma once
// How many attachments the server lists for a database, asked through the
// client's C API on a short attachment of its own (isc_info_user_names). The
// owner of a database sees every attachment, this one included; any other
// user sees only its own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korva::db {

// A version-1 database parameter buffer.
using ParameterBuffer = std::array<char, 1024>;

// Appends one item at position: code byte, length byte, the characters; the
// position moves past it. A value longer than 255 characters or one that
// does not fit fails with KorvaError and writes nothing.
void AdicionaItemDpb(ParameterBuffer& buffer, std::size_t& position, unsigned char code,
                     std::string_view value);

// Entries of an isc_info_user_names response, one per attachment: counted
// until the end, truncation or error mark. An entry whose header would lie
// past the buffer's end ends the walk too.
int CountUserNameEntries(std::span<const char> response);

// Fails with a KorvaError whose text is the client's wording of the status
// vector (isc_interprete): one line per message, a line equal to the one
// before dropped, CR LF between lines.
[[noreturn]] void LevantaErroIsc(const std::intptr_t* statusVector);

// Attaches to database ([server[/port]:]path) with the user name and
// password, asks for the user names and detaches; returns the number of
// entries. A refused attachment, request or detach fails as LevantaErroIsc
// does; after a failed request the attachment is still detached.
int CountAttachments(const std::string& database, const std::string& user,
                     const std::string& password);

}  // namespace korva::db
