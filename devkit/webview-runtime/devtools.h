// The one connection to the browser's DevTools endpoint: a WinHTTP WebSocket
// carrying commands for the browser and, with flattened sessions, for every
// page. Replies and events arrive on the connection's reader thread.
#pragma once
#include <functional>
#include <string>
#include <nlohmann/json.hpp>

using Json = nlohmann::json;
// result is the command's result object; error is null on success.
using CommandReply = std::function<void(const Json& result, const Json& error)>;
// session is empty for browser-level events; method is empty once, when the
// connection has ended.
using EventSink = std::function<void(const std::string& session, const std::string& method, const Json& params)>;

// Connects to ws://127.0.0.1:port<path> and starts the reader thread.
bool ConnectDevTools(int port, const std::wstring& path, EventSink sink);
// Safe from any thread; commands go out in the order of the calls. A reply
// comes exactly once, with an error when the connection ends first.
void SendCommand(const std::string& method, const Json& params, const std::string& session = std::string(),
                 CommandReply reply = CommandReply());
bool DevToolsConnected();
