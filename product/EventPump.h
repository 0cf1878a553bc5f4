#pragma once
// The application thread's event loop while the station works: what it lets through between
// the steps of a file, and work handed to other threads that it waits for, pumping, so that a
// window keeps answering its user.

#include <functional>
#include <future>


// Lets the event loop see to timers and posted work, at most once per millisecond; user input
// waits for ProcessAllMessages. Costs nothing when called many times within one millisecond.
void PeekMessages();
// Dispatches everything pending, user input included (Stop, Close, thumbnail clicks).
void ProcessAllMessages();

// What the application thread does every few milliseconds while it waits for work done on
// another thread (a file's decoding, an image's encoding): PeekMessages unless set. The window
// lets user input through too, so its pages switch while a full disk is processed.
void SetWaitPump(std::function<void()> pump);
void PumpWhileWaiting();
// Whether a wait on this thread answers a user (the window's pump is set and this is its
// thread); otherwise nothing is gained by waiting on another thread.
bool WaitAnswersUser();
// Lowers the calling thread's priority (and that of any process it forks) below the window's.
void YieldProcessorToUser();
// Starts work on a thread of its own. Where the window waits for it, that thread yields the
// processor to the window and the display: with both cores busy decoding, a page switch
// would otherwise wait its turn.
template <class Work>
auto StartBehindUser(Work work) -> std::future<decltype(work())>
{
    return std::async(std::launch::async, [behind = WaitAnswersUser(), work = std::move(work)]() mutable {
        if (behind)
            YieldProcessorToUser();
        return work();
    });
}
template <class Result>
void WaitPumping(std::future<Result>& pending)
{
    while (pending.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        PumpWhileWaiting();
}
// Runs work on another thread and waits for it, pumping, where the wait answers a user; anywhere
// else it runs here. work must not touch widgets nor the log.
template <class Work>
auto RunPumping(Work work) -> decltype(work())
{
    if (!WaitAnswersUser())
        return work();
    auto done = StartBehindUser(std::move(work));
    WaitPumping(done);
    return done.get();
}
// Changes a picture the window may show, as RunPumping runs work: where the wait answers a user,
// into a copy (its pen included) that replaces the picture once complete, so that the window
// never reads it half changed; anywhere else in place. work(picture) says whether it changed
// it; a picture it did not change stays as it was.
template <class Picture, class Work>
bool ChangePumping(Picture& picture, Work work)
{
    if (!WaitAnswersUser())
        return work(picture);
    Picture copy = picture;
    copy.Canvas().Pen = picture.Canvas().Pen;
    if (!RunPumping([&] { return work(copy); }))
        return false;
    picture = std::move(copy);
    picture.Changed();
    return true;
}
