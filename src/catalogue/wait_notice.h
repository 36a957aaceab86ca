#pragma once
// Told when a worker starts and ends a wait for something outside the
// program (a server's answer, its turn at the renderer), so that the
// worker's share of the machine can go to other work meanwhile.
namespace catalogue {

class WaitNotice {
public:
    virtual ~WaitNotice() = default;
    virtual void waitBegins() = 0;
    // May block until the worker may compute again.
    virtual void waitEnds() = 0;
};

// A wait told to notice (which may be null) for as long as it lives.
class NoticedWait {
public:
    explicit NoticedWait(WaitNotice* notice) : notice_(notice) {
        if (notice_)
            notice_->waitBegins();
    }
    ~NoticedWait() {
        if (notice_)
            notice_->waitEnds();
    }
    NoticedWait(const NoticedWait&) = delete;
    NoticedWait& operator=(const NoticedWait&) = delete;

private:
    WaitNotice* notice_;
};

} // namespace catalogue
