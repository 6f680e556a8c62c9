// A minimal HTTP/1.0 client for the timestamp request: one POST, the whole answer read.
#pragma once
#include <string>

namespace kdt {

enum class HttpResult { ok, unreachable, badAnswer };

// POSTs `body` to an "http://host[:port]/path" URL. `status` and `answer` are the response's.
HttpResult httpPost(const std::string& url, const std::string& contentType, const std::string& body,
                    int& status, std::string& answer, std::string& error);

}  // namespace kdt
