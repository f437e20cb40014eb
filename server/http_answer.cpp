#include "server/http_answer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mb::server {
namespace {

// Bytes read per step of a file transfer; also the buffer every transfer
// holds, so it bounds the memory of many parallel downloads.
constexpr std::size_t kFileBlock = std::size_t{64} * 1024;

std::string CacheControl(int max_age) { return "max-age=" + std::to_string(max_age); }

// Bytes of a published file, the whole file or one range of it.
struct FileSpan {
  const PublishedBytes* bytes;
  std::uint64_t first;
  std::uint64_t length;
};

// Reads the span's bytes at pos; after its last block, and before it is
// handed over, the file must still be the one the digest was taken of.
ssize_t ReadSpan(const FileSpan& span, std::uint64_t pos, char* buf, std::size_t max) {
  if (pos >= span.length) return MHD_CONTENT_READER_END_OF_STREAM;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(max, span.length - pos));
  ssize_t n = span.bytes->Read(span.first + pos, buf, want);
  if (n <= 0) return MHD_CONTENT_READER_END_WITH_ERROR;
  bool last = pos + static_cast<std::uint64_t>(n) >= span.length;
  if (last && !span.bytes->Unchanged()) return MHD_CONTENT_READER_END_WITH_ERROR;
  return n;
}

ssize_t ReadFileBlock(void* cls, std::uint64_t pos, char* buf, std::size_t max) {
  const auto& bytes = *static_cast<const PublishedBytes*>(cls);
  return ReadSpan({&bytes, 0, bytes.Size()}, pos, buf, max);
}

ssize_t ReadPartBlock(void* cls, std::uint64_t pos, char* buf, std::size_t max) {
  return ReadSpan(*static_cast<const FileSpan*>(cls), pos, buf, max);
}

void FreeSpan(void* cls) { delete static_cast<FileSpan*>(cls); }

// The bytes of an answer held in memory (a small file or a text).
const std::string* HeldBytes(const Answer& answer) {
  if (!answer.file) return &answer.body;
  return answer.file->Held();
}

// Each entity tag of an If-None-Match list, weak ones compared by value.
bool EtagListMatches(std::string_view list, const std::string& etag) {
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    std::string_view tag = list.substr(0, comma);
    list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
    while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
    while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
    if (tag.rfind("W/", 0) == 0) tag.remove_prefix(2);
    if (tag == "*" || tag == etag) return true;
  }
  return false;
}

}  // namespace

std::string HttpDate(std::time_t t) {
  std::tm gmt{};
  gmtime_r(&t, &gmt);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &gmt);
  return text;
}

std::optional<std::time_t> ParseHttpDate(const std::string& text) {
  std::tm gmt{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &gmt);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return timegm(&gmt);
}

bool ClientHoldsAnswer(const Answer& answer, const char* if_none_match,
                       const char* if_modified_since) {
  if (answer.status != 200) return false;
  if (if_none_match != nullptr) return EtagListMatches(if_none_match, answer.etag);
  if (if_modified_since == nullptr) return false;
  std::optional<std::time_t> since = ParseHttpDate(if_modified_since);
  return since && answer.last_modified <= *since;
}

void AddValidators(MHD_Response* response, const Answer& answer) {
  if (!answer.etag.empty()) MHD_add_response_header(response, "ETag", answer.etag.c_str());
  if (answer.last_modified > 0)
    MHD_add_response_header(response, "Last-Modified", HttpDate(answer.last_modified).c_str());
  MHD_add_response_header(response, "Cache-Control", CacheControl(answer.max_age).c_str());
}

MHD_Response* MakeResponse(const Answer& answer) {
  MHD_Response* response;
  if (const std::string* held = HeldBytes(answer)) {
    response = MHD_create_response_from_buffer(held->size(), const_cast<char*>(held->data()),
                                               MHD_RESPMEM_PERSISTENT);
  } else {
    response =
        MHD_create_response_from_callback(answer.file->Size(), kFileBlock, ReadFileBlock,
                                          const_cast<PublishedBytes*>(answer.file.get()), nullptr);
  }
  if (response == nullptr) return nullptr;
  MHD_add_response_header(response, "Content-Type", answer.content_type.c_str());
  MHD_add_response_header(response, "Accept-Ranges", "bytes");
  AddValidators(response, answer);
  return response;
}

std::uint64_t AnswerSize(const Answer& answer) {
  return answer.file ? answer.file->Size() : answer.body.size();
}

ByteRange RequestedRange(MHD_Connection* connection, const Answer& answer) {
  if (answer.status != 200) return {};
  const char* range = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Range");
  const char* if_range = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-Range");
  return DecideRange(range, if_range, {answer.etag, answer.last_modified}, AnswerSize(answer));
}

MHD_Response* MakePartResponse(const Answer& answer, const ByteRange& range) {
  MHD_Response* response;
  if (const std::string* held = HeldBytes(answer)) {
    response = MHD_create_response_from_buffer(
        range.length, const_cast<char*>(held->data() + range.first), MHD_RESPMEM_PERSISTENT);
  } else {
    auto* span = new FileSpan{answer.file.get(), range.first, range.length};
    response =
        MHD_create_response_from_callback(range.length, kFileBlock, ReadPartBlock, span, FreeSpan);
    if (response == nullptr) delete span;
  }
  if (response == nullptr) return nullptr;
  MHD_add_response_header(response, "Content-Type", answer.content_type.c_str());
  MHD_add_response_header(response, "Content-Range",
                          ContentRange(range, AnswerSize(answer)).c_str());
  AddValidators(response, answer);
  return response;
}

MHD_Response* MakeUnsatisfiable(const Answer& answer) {
  MHD_Response* response = MakeTextResponse("Range Not Satisfiable", 0);
  if (response != nullptr) {
    MHD_add_response_header(
        response, "Content-Range",
        ContentRange(ByteRange{ByteRange::Kind::kUnsatisfiable}, AnswerSize(answer)).c_str());
  }
  return response;
}

MHD_Response* MakeNotModified(const Answer& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (response != nullptr) AddValidators(response, answer);
  return response;
}

MHD_Response* MakeTextResponse(const std::string& body, int max_age) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return nullptr;
  MHD_add_response_header(response, "Content-Type", "text/plain");
  MHD_add_response_header(response, "Cache-Control", CacheControl(max_age).c_str());
  return response;
}

}  // namespace mb::server
