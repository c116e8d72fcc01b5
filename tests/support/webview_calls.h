// What the client asks of a new web view, in order, as both the recording
// fakes and the stand-in runtime write the calls down.
#pragma once
#include <string>
#include <vector>

// From the controller's view to the first navigation, which comes after
// every script and handler, and the browser's process id; the put_Bounds
// line is left out when boundsCall is empty.
inline std::vector<std::string> ConfigureViewCalls(const std::string& boundsCall) {
  std::vector<std::string> calls = {
      "Controller.get_CoreWebView2",
      "WebView.get_Settings",
      "Settings.put_IsScriptEnabled 1",
      "Settings.put_IsWebMessageEnabled 1",
      "Settings.put_AreDefaultScriptDialogsEnabled 0",
      "Settings.put_AreDefaultContextMenusEnabled 0",
      "Settings.put_AreDevToolsEnabled 0",
      "Settings.put_IsBuiltInErrorPageEnabled 0",
      "Settings.put_IsStatusBarEnabled 0",
      "Settings.put_IsZoomControlEnabled 0",
  };
  if (!boundsCall.empty()) calls.push_back(boundsCall);
  calls.insert(calls.end(), {
      "WebView.add_NavigationStarting",
      "WebView.AddScriptToExecuteOnDocumentCreated Object.freeze(Object);",
      "WebView.add_NewWindowRequested",
      "WebView.add_WebMessageReceived",
      "WebView.add_ProcessFailed",
      "WebView.AddScriptToExecuteOnDocumentCreated window.chrome.webview.addEventListener('message', event => "
      "alert(event.data));window.chrome.webview.postMessage(window.document.URL);",
      "WebView.Navigate http://127.0.0.1:13001",
      "WebView.get_BrowserProcessId",
  });
  return calls;
}
