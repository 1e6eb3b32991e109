// Creating a new, empty database: check the link, clear the controller completely, read
// its vardex (what stays after a clear), each after the pause; then the file, with that
// vardex and nothing else. The window's "&Новый файл" hosts it in its wait dialog, the
// command line's `new` with a log of its own.
#pragma once

#include <string>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"

// The file of a controller just cleared: its vardex, the default times, its address on
// the line, no keys (journaled as one new-file line).
DbResult WriteNewDbFile(const std::string& path, KeyCode vardex, int address = 0);

class TNewFileJob : public TJob {
  public:
    explicit TNewFileJob(TJobHost& host);

    void Start() override;  // posts step 0
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    bool Complete() const { return complete_; }

    int Step = 0;            // 0 link check, 1 full clear, 2 vardex
    KeyCode VardexCode = 0;  // 0 also when the reply carried no payload

  private:
    bool complete_ = false;
};
