#include "app/line_recorder.h"

namespace {

void record(line_recorder& recorder, bool problem, const std::string& text)
{
    {
        const std::lock_guard<std::mutex> hold(*recorder.lock);
        recorder.lines.push_back(recorded_line{problem, text});
    }
    recorder.changed->notify_all();
}

void record_dialogue(void* recorder, const std::string& text)
{
    record(*static_cast<line_recorder*>(recorder), false, text);
}

void record_problem(void* recorder, const std::string& text)
{
    record(*static_cast<line_recorder*>(recorder), true, text);
}

void record_stop(void* recorder, const std::string& text)
{
    auto& into = *static_cast<line_recorder*>(recorder);
    {
        const std::lock_guard<std::mutex> hold(*into.lock);
        into.stopped = true;
    }
    record(into, false, text);
}

} // namespace

voice recording_voice(line_recorder& recorder)
{
    return voice(&recorder, record_dialogue, record_problem, record_stop);
}

void end_dialogue(line_recorder& recorder)
{
    {
        const std::lock_guard<std::mutex> hold(*recorder.lock);
        recorder.dialogue_done = true;
    }
    recorder.changed->notify_all();
}

void end_recording(line_recorder& recorder)
{
    // Once done is seen, the console's thread may play the recording and
    // free it: nothing of it is read after.
    std::condition_variable* const changed = recorder.changed;
    {
        const std::lock_guard<std::mutex> hold(*recorder.lock);
        recorder.dialogue_done = true;
        recorder.done = true;
    }
    changed->notify_all();
}

void play(console& c, const recorded_line& line)
{
    const voice out(c);
    if (line.problem)
        out.report_text(out.context, line.text);
    else
        out.say_text(out.context, line.text);
}
