// Running work so that the windows stay alive: interface operations asked
// for from a worker thread are carried out on the interface thread, and a
// blocking call (a server round trip) runs on a worker while the interface
// thread keeps painting with user input held back.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

namespace dorvik {

// Runs `fn` on the application's interface thread and waits for it; runs it
// at once when called there.
void RunOnUiThread(const std::function<void()>& fn);

// Runs `work` on a worker thread while the calling (interface) thread runs a
// local event loop, so animations keep moving and windows repaint. Mouse and
// key input to `blocked` windows is dropped meanwhile, except Esc on the
// windows in `escAllowed`, so no action can start twice. A failure thrown by
// `work` is thrown again here.
void RunResponsive(const std::function<void()>& work, const std::vector<QPointer<QWidget>>& blocked,
                   const std::vector<QPointer<QWidget>>& escAllowed);

// The same for work that runs elsewhere (the thread that owns the server
// link): `start` begins it and is handed `finished`, which the work calls
// on any thread once it has ended; this returns after that. What the work
// threw is the starter's to carry.
void WaitResponsive(const std::function<void(std::function<void()> finished)>& start,
                    const std::vector<QPointer<QWidget>>& blocked, const std::vector<QPointer<QWidget>>& escAllowed);

// True while RunResponsive or WaitResponsive waits for its work.
bool IsRunningResponsive();

}  // namespace dorvik
