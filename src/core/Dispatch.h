#pragma once

// Dispatch primitives: serial queues on worker threads and the main queue.
// (Declarations only for now; the GPS-grid work implements them.)
//
//   class SerialQueue   — SerialQueue(std::string label); async(std::function<void()>);
//                         label(); runs tasks in order on its own thread; the
//                         destructor finishes queued tasks and joins.
//   class MainQueue     — the main thread's queue: post(fn) from any thread;
//                         the application binds it to Qt's event loop, tests
//                         call runPending()/runUntil(pred) by hand.
//   mainQueue()         — the process's MainQueue.
