#pragma once
// Main-thread and background work.
#include <QObject>
#include <functional>

namespace lg {

// Queues fn onto the main thread (runs later even when called from it).
void onMain(std::function<void()> fn);
// Runs fn on the main thread and waits for it; runs it at once when already there.
// Never call it from work that the main thread waits on.
void onMainAndWait(std::function<void()> fn);
// Runs fn on the shared background thread pool.
void onBackground(std::function<void()> fn);
// Calls fn after ms on the context's thread (the main thread for widgets and
// controllers; with no context, on the main thread), through lg::Timer so tests
// advance it with a FakeClock; nothing happens when context is destroyed first.
// May be called from any thread.
void afterDelay(int ms, const QObject *context, std::function<void()> fn);
bool isMainThread();

} // namespace lg
