// Identifiers shared by the resource script and the code that loads the
// resources.
#ifndef VELQA_RESOURCES_RESOURCE_IDS_H_
#define VELQA_RESOURCES_RESOURCE_IDS_H_

// The application icon: window class, caption and notification-area icon.
#define IDI_APP_ICON 101

#endif  // VELQA_RESOURCES_RESOURCE_IDS_H_
