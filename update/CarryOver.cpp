// The maintenance.sys route: the user's option password carried into a newer settings database.
#include "update/CarryOver.h"

#include <memory>

#include "launcher/Workgroup.h"
#include "update/GetP2S_VerInfo.h"

namespace p2 {
namespace {

bool IsEmpty(Recordset& recordset) {
    const bool eof = recordset.Eof();
    const bool bof = recordset.Bof();
    return eof && bof;
}

}  // namespace

Decision CarryOverSettings(Ports& ports, const std::string& installedPath,
                           const std::string& incomingPath) {
    const int32_t installedStamp = GetP2S_VerInfo(ports, installedPath);
    const int32_t incomingStamp = GetP2S_VerInfo(ports, incomingPath);
    if (!(incomingStamp > installedStamp)) {
        return Decision::kDiscard;
    }
    if (ports.files.Lookup(installedPath, kAttrHidden).empty()) {
        return Decision::kReplace;
    }

    DBEngine& engine = SetWorkgroupContext(ports);
    // Declared in opening order, so that on a failure they are released in reverse.
    std::unique_ptr<Database> installedDb = engine.OpenDatabase(installedPath);
    std::unique_ptr<Database> incomingDb = engine.OpenDatabase(incomingPath);
    std::unique_ptr<Recordset> installed =
        installedDb->OpenRecordset(kOptionTable, kDbOpenSnapshot);
    std::unique_ptr<Recordset> incoming = incomingDb->OpenRecordset(kOptionTable, kDbOpenDynaset);

    const bool installedEmpty = IsEmpty(*installed);
    const bool incomingEmpty = IsEmpty(*incoming);
    if (!installedEmpty && !incomingEmpty) {
        incoming->Edit();
        incoming->SetField(kOptionPasswordField, installed->Field(kOptionPasswordField));
        incoming->Update(kDbUpdateRegular);
    }

    installed->Close();
    incoming->Close();
    installedDb->Close();
    incomingDb->Close();
    return Decision::kReplace;
}

}  // namespace p2
