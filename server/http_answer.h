// An answer of a release snapshot as an HTTP response of libmicrohttpd,
// with its validators (ETag, Last-Modified) and Cache-Control, and the
// conditional GET that turns an unchanged answer into 304.
#pragma once

#include <microhttpd.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "server/byte_range.h"
#include "server/release_snapshot.h"

namespace mb::server {

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::string HttpDate(std::time_t t);
std::optional<std::time_t> ParseHttpDate(const std::string& text);

// True when the request's If-None-Match (or, without one, its
// If-Modified-Since) says the client already holds this answer.
bool ClientHoldsAnswer(const Answer& answer, const char* if_none_match,
                       const char* if_modified_since);

// The response for the answer (body or file), validators attached. The
// answer must outlive the response: keep its snapshot until the request
// completes. A file's bytes are read while they are sent and the transfer
// is cut short if the file changes under it.
MHD_Response* MakeResponse(const Answer& answer);
// The range the request asks of a 200 answer (Range, If-Range), decided as
// nginx decides it for the static export.
ByteRange RequestedRange(MHD_Connection* connection, const Answer& answer);
// 206: one range of the answer, with Content-Range and the validators.
MHD_Response* MakePartResponse(const Answer& answer, const ByteRange& range);
// 416: a range past the end; Content-Range gives the whole size.
MHD_Response* MakeUnsatisfiable(const Answer& answer);
// 304: no body, the answer's validators.
MHD_Response* MakeNotModified(const Answer& answer);
// A small text answer with no validators, the body copied.
MHD_Response* MakeTextResponse(const std::string& body, int max_age);

void AddValidators(MHD_Response* response, const Answer& answer);

}  // namespace mb::server
