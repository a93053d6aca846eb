// The launcher closing in mid-download and starting again, as the pipeline tests need it:
// the resume record is written from the process values, the values start over, and the next
// start reads them back from the record as the update driver does.
#pragma once
#include "core/update/resume_record.h"
#include "core/update/update_context.h"

namespace testsupport {

// A new start: the resume values begin at nothing and are read from the record.
inline void StartAgain(core::UpdateContext& ctx)
{
    core::PipelineState& st = ctx.state;
    st.downloadOffset = st.resumeFrom = st.downloadTotal = 0;
    st.downloadVersion = {};
    core::LoadResumeOffsets(ctx);
    core::LoadResumeVersion(ctx);
}

// The launcher closes (the record is written) and starts again.
inline void CloseAndRestart(core::UpdateContext& ctx)
{
    core::WriteResumeRecord(ctx);
    StartAgain(ctx);
}

}  // namespace testsupport
