// The logged-in account and the organisation's lists, as the login sequence fills them. All text
// is 8-bit and holds the service's bytes unchanged (UTF-8); convert with CP_UTF8 for windows.
// Written once by CendraClient::Login on the UI thread, read-only afterwards: readers may keep
// pointers to a location, and to the records in its lists, as long as the session lives.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

struct EndoscopeRecord {
    std::string type;    // "endoscope", lowered and then capitalised ("Flexible gastroscope")
    std::string serial;
    std::string model;
};

struct CendraLocation {
    std::string name;
    // Lists in reply order; a type's entry exists once the type has occurred.
    std::unordered_map<std::string, std::vector<EndoscopeRecord>> endoscopesByType;
    // Distinct models per type, in order of first occurrence.
    std::unordered_map<std::string, std::vector<std::string>> modelsByType;
    std::vector<EndoscopeRecord> endoscopes;  // all Active rows of this location, in reply order
};

// The location as the login builds it from its rows (reply order): the per-type lists and each
// type's distinct models, exact bytes, in time linear in the rows.
CendraLocation BuildLocation(std::string name, std::vector<EndoscopeRecord> endoscopes);

// Maps are keyed by exact bytes. Look up with find: operator[] would insert into the session.
struct CendraSession {
    std::string id;                // the login reply's "velmoraId": last path segment of the lists
    std::string userIdentifier;    // the login reply's "username"
    std::string loginName;         // the name as typed at login
    std::string organizationCode;  // the login reply's "organizationCode"
    bool loggedIn = false;
    bool isAdmin = false;          // set by the login dialog; "admin" or "user" in an upload
    std::vector<std::string> facilities;  // "nameFacility" of the Active rows, reply order
    std::vector<std::string> locations;   // "location" of the Active rows, repeats kept
    std::vector<std::string> testers;     // "first" + " " + "last" of the Active rows
    // For a name listed twice, the location built for the later row.
    std::unordered_map<std::string, CendraLocation> locationsByName;
};
