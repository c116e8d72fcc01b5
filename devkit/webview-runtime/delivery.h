// Everything the runtime does for the client happens on the client's UI
// thread, from its message loop, one task at a time: completions, events and
// the runtime's own bookkeeping of browser events. A task that runs a modal
// loop (the tray menu does, inside a script completion) holds the next tasks
// back until it returns; they are never run re-entrantly.
#pragma once
#include <functional>

// On the thread that asked for the environment; false when its message-only
// window cannot be made. Later calls from the same thread do nothing.
bool StartDelivery();
// From any thread. Tasks run in the order they were handed over.
void Deliver(std::function<void()> task);
bool OnDeliveryThread();
