#pragma once

#include <QWidget>

#include "ui_ChannelAccessPage.h"
#include "ui_DevicePage.h"
#include "ui_FramingPage.h"
#include "ui_RadioPage.h"
#include "ui/AlignColumns.h"

// The forms of the parameter pages, one Designer file each. The page classes
// reach across them: the crystal sits on the Framing page but belongs to the
// radio settings, the address match sits on the Device page.
struct PageForms {
    Ui::RadioPageForm radio;
    Ui::FramingPageForm framing;
    Ui::ChannelAccessPageForm chacc;
    Ui::DevicePageForm device;
    QWidget* radio_page = nullptr;
    QWidget* framing_page = nullptr;
    QWidget* chacc_page = nullptr;
    QWidget* device_page = nullptr;

    // Builds the four pages as children of `parent`.
    explicit PageForms(QWidget* parent)
        : radio_page(new QWidget(parent)), framing_page(new QWidget(parent)), chacc_page(new QWidget(parent)),
          device_page(new QWidget(parent))
    {
        radio.setupUi(radio_page);
        framing.setupUi(framing_page);
        chacc.setupUi(chacc_page);
        device.setupUi(device_page);
        // the pages with groups stacked above each other
        for (QWidget* page : {framing_page, device_page})
            align_label_columns(page);
    }
};
