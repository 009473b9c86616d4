// The installation's OSC, as the Application sees it: the sender and its
// reporter when an address to send to is set, the listener when an address
// to listen on is set; with neither, nothing at all (no thread, no socket).
//
// Threads: every call here is made by the step loop. The listener's thread
// posts to the ControlQueue given to Start; the sender's thread only sends.
#pragma once

#include <memory>
#include <string>

#include "operator/ControlQueue.h"
#include "operator/OscListener.h"
#include "operator/OscReporter.h"
#include "operator/OscSender.h"

class OscService {
public:
    // sendTo: "host:port" or empty; listenOn: "[addr:]port" or empty; allow:
    // the senders taken (OscAllowList), empty for every one. False with the
    // reason in `error` when an address is malformed or the port cannot be
    // bound.
    bool Start(const std::string& sendTo, const std::string& listenOn, const std::string& allow,
               ControlQueue& controls, std::string& error);

    bool Sending() const { return reporter_ != nullptr; }
    // Each microphone block (16-bit samples), when it arrives.
    void OnBlock(const std::int16_t* samples, std::size_t count)
    {
        if (reporter_) reporter_->OnBlock(samples, count);
    }
    void AfterStep(const OscStepView& view)
    {
        if (reporter_) reporter_->AfterStep(view);
    }
    const OscListener* Listener() const { return listener_.get(); }
    std::uint64_t Heard() const { return listener_ ? listener_->Accepted() : 0; }
    std::uint64_t Ignored() const { return listener_ ? listener_->Ignored() : 0; }

private:
    // The reporter posts to the sender; the sender goes last.
    std::unique_ptr<OscSender> sender_;
    std::unique_ptr<OscReporter> reporter_;
    std::unique_ptr<OscListener> listener_;
};
