<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>FileJournal</name>
    <message>
        <source>IDS_BACKUP_FOLDER_FAILED_%1</source>
        <translation>Can&apos;t create the folder %1. Please check that the disk has free space and that you may write there.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_COPY_FAILED_%1_%2_%3</source>
        <translation>Can&apos;t copy the file %1 to %2: %3</translation>
    </message>
    <message>
        <source>IDS_BACKUP_STALE_FILE_%1</source>
        <translation>Can&apos;t remove the file %1, left behind by a deleted message.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_SYNC_FAILED_%1</source>
        <translation>The copied files could not be written to the disk of %1. Nothing was added to the database.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Chatwharf</source>
        <translation>Chatwharf</translation>
    </message>
</context>
<context>
    <name>Sqlite3DB</name>
    <message>
        <source>IDS_SQLITE_ERROR</source>
        <translation>The database %1 reported an error: %2</translation>
    </message>
    <message>
        <source>IDS_SQLITE_BUSY_%1</source>
        <translation>The database %1 is in use by another program, which did not let go of it within 5 seconds. Try again when that program has finished.</translation>
    </message>
    <message>
        <source>IDS_SQLITE_FULL_%1</source>
        <translation>The disk holding the database %1 is full.</translation>
    </message>
</context>
<context>
    <name>MessageText</name>
    <message>
        <source>IDS_MSG_EXPIRED</source>
        <translation>(expired)</translation>
    </message>
    <message>
        <source>IDS_MSG_NOT_DOWNLOADED</source>
        <translation>(not downloaded)</translation>
    </message>
    <message>
        <source>IDS_MSG_FORWARDED</source>
        <translation>[Forwarded]</translation>
    </message>
    <message>
        <source>IDS_MSG_FORWARDED_FROM</source>
        <translation>[Forwarded from %1]</translation>
    </message>
    <message>
        <source>IDS_MSG_QUOTE</source>
        <translation>» %1: %2</translation>
    </message>
    <message>
        <source>IDS_MSG_POLL</source>
        <translation>[POLL] %1</translation>
    </message>
    <message>
        <source>IDS_CALL_INCOMING_VIDEO</source>
        <translation>Incoming Video Call (%1)</translation>
    </message>
    <message>
        <source>IDS_CALL_OUTGOING_VIDEO</source>
        <translation>Outgoing Video Call (%1)</translation>
    </message>
    <message>
        <source>IDS_CALL_MISSED_VIDEO</source>
        <translation>Missed Video Call</translation>
    </message>
    <message>
        <source>IDS_CALL_VIBER_OUT</source>
        <translation>Viber Out Call (%1)</translation>
    </message>
    <message>
        <source>IDS_SYS_SELF_ADDED</source>
        <translation>You were added to the group</translation>
    </message>
    <message>
        <source>IDS_SYS_ICON_CHANGED</source>
        <translation>%1 changed the group icon</translation>
    </message>
    <message>
        <source>IDS_SYS_MESSAGE_REMOVED</source>
        <translation>%1 deleted a message</translation>
    </message>
    <message>
        <source>IDS_SYS_PINNED</source>
        <translation>%1 pinned a message</translation>
    </message>
    <message>
        <source>IDS_SYS_PINNED_TEXT</source>
        <translation>%1 pinned &quot;%2&quot;</translation>
    </message>
    <message>
        <source>IDS_SYS_UNSUPPORTED</source>
        <translation>[A MESSAGE OF A KIND THIS VERSION CANNOT SHOW]</translation>
    </message>
    <message>
        <source>IDS_CHAT_MY_NOTES</source>
        <translation>My Notes</translation>
    </message>
    <message>
        <source>IDS_CHAT_CHANNEL</source>
        <translation>%1 (Channel)</translation>
    </message>
    <message>
        <source>IDS_MSG_EMOJI</source>
        <translation>[EMOJI]</translation>
    </message>
    <message>
        <source>IDS_MSG_UNKNOWN_CALL</source>
        <translation>[UNKNOWN CALL]</translation>
    </message>
    <message>
        <source>IDS_MSG_IMAGE</source>
        <translation>[IMAGE]</translation>
    </message>
    <message>
        <source>IDS_MSG_LOCATION</source>
        <translation>[LOCATION]</translation>
    </message>
    <message>
        <source>IDS_MSG_AUDIO</source>
        <translation>[AUDIO]</translation>
    </message>
    <message>
        <source>IDS_MSG_STICKER</source>
        <translation>[STICKER-%1]</translation>
    </message>
    <message>
        <source>IDS_MSG_UNKNOWN</source>
        <translation>UNKNOWN</translation>
    </message>
    <message>
        <source>IDS_MSG_VIDEO</source>
        <translation>[VIDEO]</translation>
    </message>
    <message>
        <source>IDS_MSG_FILE</source>
        <translation>[FILE %1]</translation>
    </message>
    <message>
        <source>IDS_CALL_INCOMING</source>
        <translation>Incoming Call (%1)</translation>
    </message>
    <message>
        <source>IDS_CALL_OUTGOING</source>
        <translation>Outgoing Call (%1)</translation>
    </message>
    <message>
        <source>IDS_CALL_MISSED</source>
        <translation>Missed Call</translation>
    </message>
    <message>
        <source>IDS_CALL_UNKNOWN</source>
        <translation>Unknown Call</translation>
    </message>
    <message>
        <source>IDS_SYS_YOU</source>
        <translation>You</translation>
    </message>
    <message>
        <source>IDS_SYS_NAME_CHANGED</source>
        <translation>%1 changed the group name to &quot;%2&quot;</translation>
    </message>
    <message>
        <source>IDS_SYS_MEMBER_JOINED</source>
        <translation>%1 joined</translation>
    </message>
    <message>
        <source>IDS_SYS_MEMBER_ADDED</source>
        <translation>%1 was added to the group</translation>
    </message>
    <message>
        <source>IDS_MSG_EDITED</source>
        <translation>[Edited]</translation>
    </message>
    <message>
        <source>IDS_CALL_WITH_PARTY_%1_%2</source>
        <translation>%1 · %2</translation>
    </message>
</context>
<context>
    <name>ProgressForm</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>IDS_PROGRESS_%1</source>
        <translation>%1% done</translation>
    </message>
</context>
<context>
    <name>WorkerThread</name>
    <message>
        <source>IDS_WORKER_UNEXPECTED_ERROR</source>
        <translation>The operation stopped because of an unexpected internal error.</translation>
    </message>
    <message>
        <source>IDS_WORKER_OUT_OF_MEMORY</source>
        <translation>There was not enough memory to finish the operation.</translation>
    </message>
</context>
<context>
    <name>ConsoleReporter</name>
    <message>
        <source>IDS_CONSOLE_ERROR_%1</source>
        <translation>Error: %1</translation>
    </message>
    <message>
        <source>IDS_CONSOLE_DONE</source>
        <translation>Done.</translation>
    </message>
</context>
<context>
    <name>AbsViberDb</name>
    <message>
        <source>IDS_STORE_NOT_A_DATABASE</source>
        <translation>The file %1 is not a Viber message store: it is not an SQLite database, or it is damaged.</translation>
    </message>
    <message>
        <source>IDS_STORE_TABLE_MISSING</source>
        <translation>The file %1 is not a complete Viber message store: the table %2 is missing.</translation>
    </message>
</context>
<context>
    <name>IOSViberDb</name>
    <message>
        <source>IDS_STORE_FOLDER_MISSING</source>
        <translation>Can&apos;t create the Viber message store %1: the folder %2 does not exist.</translation>
    </message>
    <message>
        <source>IDS_STORE_TEMPLATE_UNREADABLE</source>
        <translation>Can&apos;t create the Viber message store %1: its template could not be read (%2).</translation>
    </message>
    <message>
        <source>IDS_STORE_CREATE_FAILED</source>
        <translation>Can&apos;t create the Viber message store %1: %2</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_REPEATED_KEY</source>
        <translation>repeat the key of another row</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_NO_CHAT</source>
        <translation>belong to no chat the store holds</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_STATE_%1</source>
        <translation>have the state &quot;%1&quot;, which is no state of a sent or received message</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_NO_MESSAGE</source>
        <translation>belong to no message that was read</translation>
    </message>
    <message>
        <source>IDS_UNKNOWN_PARTY</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_LOCAL_DATABASE</source>
        <translation>a local database of this program</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_PHONE_STORE</source>
        <translation>a Viber for iOS message store</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_MEMBERS</source>
        <translation>participants as members with phone numbers (about 2016 and later)</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_PHONE_NUMBER_INDEX</source>
        <translation>participants in a phone number index (before about 2016)</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_CONTACT_COLUMN</source>
        <translation>address-book contacts linked by a column</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_CONTACT_TABLE</source>
        <translation>address-book contacts linked through a join table</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_METADATA</source>
        <translation>message metadata (about 2020 and later)</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_ATTACHMENT_LINKS</source>
        <translation>attachments linked from their messages</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_MESSAGE_INDEX</source>
        <translation>a search index of messages</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_HISTORY</source>
        <translation>a change history</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_ENTITIES_%1</source>
        <translation>%1 entities</translation>
    </message>
</context>
<context>
    <name>LoadAccount</name>
    <message>
        <source>IDS_ACCOUNT_CHATS</source>
        <translation>chats</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_PEOPLE</source>
        <translation>people</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_MESSAGES</source>
        <translation>messages</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_SYSTEM_EVENTS</source>
        <translation>system events</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_ATTACHMENTS</source>
        <translation>attachments</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_CALLS</source>
        <translation>calls</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_LINE_%1_%2_%3</source>
        <translation>%1: %2 in the store, %3 read</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_MADE_UP_%1</source>
        <translation>, %1 more made up for calls</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_LEFT_OUT_%1_%2</source>
        <translation>, %1 left out: %2</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_REASON_%1_%2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>IDS_ACCOUNT_LAYOUT_%1</source>
        <translation>Layout: %1</translation>
    </message>
</context>
<context>
    <name>BackupWriteJournal</name>
    <message>
        <source>IDS_BACKUP_WRITE_FOLDER_FAILED_%1</source>
        <translation>Could not create the folder %1 in the backup.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_SYNC_FAILED_%1</source>
        <translation>Could not write the backup %1 onto its disk.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_PLACE_FAILED_%1</source>
        <translation>Could not put %1 into place. The backup is left with a journal of this write, which is finished the next time the backup is opened.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_REMOVE_FAILED_%1</source>
        <translation>Could not remove %1 from the backup.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_JOURNAL_FAILED_%1_%2</source>
        <translation>Could not write the journal %1 of the backup. %2</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_JOURNAL_DAMAGED_%1</source>
        <translation>The backup holds an unfinished write whose journal %1 cannot be read. Nothing was changed; move that file away only if you know the backup is whole.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_UNDONE_%1</source>
        <translation>An earlier write into the backup %1 was interrupted before it changed anything; what it had left there was removed.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_COMPLETED_%1</source>
        <translation>An earlier write into the backup %1 was interrupted after its data was complete; it has now been finished.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_WRITE_COMPLETED_%1_MISSING_%2</source>
        <translation>An earlier write into the backup %1 was interrupted and has now been finished, but files it was to place were missing (%2); the backup may not restore all of its messages.</translation>
    </message>
</context>
<context>
    <name>PhoneTransfer</name>
    <message>
        <source>IDS_LOADING_FROM_DEVICE_TITLE</source>
        <translation>Loading from iPhone</translation>
    </message>
    <message>
        <source>IDS_TRANSFER_TITLE</source>
        <translation>Transferring Messages to iPhone</translation>
    </message>
    <message>
        <source>IDS_RESTORE_NOTES</source>
        <translation>Notes:&lt;br/&gt;1) If your iPhone is protected with a passcode, please enter your passcode on iPhone first.&lt;br/&gt;2) Please make sure you&apos;ve turned off &quot;iCloud Backup&quot; on your iPhone.&lt;br/&gt;3) &quot;Find My iPhone&quot; must be disabled before restoring.</translation>
    </message>
    <message numerus="yes">
        <source>IDS_LOADED_SKIPPED_%n</source>
        <translation>
            <numerusform>Loaded; %n attachment was skipped.</numerusform>
            <numerusform>Loaded; %n attachments were skipped.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ScopeChoice</name>
    <message numerus="yes">
        <source>IDS_SCOPE_SELECTION_%n</source>
        <translation>
            <numerusform>the selected message</numerusform>
            <numerusform>the %n selected messages</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_SCOPE_CHAT_%1_%n</source>
        <translation>
            <numerusform>the chat “%1” (%n message)</numerusform>
            <numerusform>the chat “%1” (%n messages)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_SCOPE_ALL_%1_%n</source>
        <translation>
            <numerusform>the one message of “%1”</numerusform>
            <numerusform>all %n messages of “%1”</numerusform>
        </translation>
    </message>
    <message>
        <source>IDS_SCOPE_QUESTION</source>
        <translation>Which messages should this take?</translation>
    </message>
    <message>
        <source>IDS_SCOPE_CONTINUE</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>IDS_SCOPE_NOTHING</source>
        <translation>There are no messages here to take. Choose a chat or a source with messages first.</translation>
    </message>
    <message>
        <source>IDS_SCOPE_TAKEN_%1</source>
        <translation>This took %1.</translation>
    </message>
</context>
<context>
    <name>SearchController</name>
    <message>
        <source>IDS_CAN_NOT_FOUND_AND_MESSAGES</source>
        <translation>There are no messages here to search. Choose a chat or a source first.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0</source>
        <translation>No message holds “%1”.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUNDCONTACT_KEYWORD_%0</source>
        <translation>No chat is named with “%1”.</translation>
    </message>
    <message>
        <source>IDS_SEARCHING_MESSAGES</source>
        <translation>Searching messages</translation>
    </message>
    <message>
        <source>IDS_SEARCH_NO_MATCH</source>
        <translation>No matches</translation>
    </message>
    <message>
        <source>IDS_SEARCH_START_OVER_%1</source>
        <translation>No more matches for “%1” below. Start again from the top?</translation>
    </message>
    <message numerus="yes">
        <source>IDS_SEARCH_MATCH_%1_OF_%n</source>
        <translation>
            <numerusform>%1 of %n match</numerusform>
            <numerusform>%1 of %n matches</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>Plurals</name>
    <message numerus="yes">
        <source>IDS_N_MESSAGES_%n</source>
        <translation>
            <numerusform>%n message</numerusform>
            <numerusform>%n messages</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_N_CALLS_%n</source>
        <translation>
            <numerusform>%n call</numerusform>
            <numerusform>%n calls</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ContainerUpload</name>
    <message>
        <source>IDS_NOT_INSTALL_VIBER_ERR_%1</source>
        <translation>Can't find Viber installed on iPhone. Error:%1.</translation>
    </message>
    <message>
        <source>IDS_SENDING_%1</source>
        <translation>Sending %1</translation>
    </message>
    <message>
        <source>IDS_SENDING_%1_%2_%3</source>
        <translation>Sending %1, %L2KB / %L3KB</translation>
    </message>
    <message>
        <source>IDS_PHONE_WRITE_FAILED_%1</source>
        <translation>The iPhone did not take the file %1: writing it failed. Check that the phone is still connected and unlocked, then try again.</translation>
    </message>
    <message>
        <source>IDS_PHONE_CREATE_FAILED_%1</source>
        <translation>The file %1 could not be made on the iPhone. Check that the phone is still connected and unlocked, then try again.</translation>
    </message>
    <message>
        <source>IDS_LOCAL_READ_FAILED_%1_%2</source>
        <translation>The file %1 could not be read to send it to the iPhone: %2</translation>
    </message>
</context>
<context>
    <name>PhoneStoreMerge</name>
    <message>
        <source>IDS_MERGING_VIBER_MESSAGES</source>
        <translation>Saving messages...</translation>
    </message>
    <message>
        <source>IDS_MERGING_VIBER_CALLS</source>
        <translation>Saving call history...</translation>
    </message>
</context>
<context>
    <name>FileHelpers</name>
    <message>
        <source>IDS_CANNOT_WRITE_%1</source>
        <translation>Could not write the file “%1”.</translation>
    </message>
</context>
<context>
    <name>Application</name>
    <message>
        <source>invalid libsqlite_qt.</source>
        <translation>invalid libsqlite_qt.</translation>
    </message>
    <message>
        <source>IDS_APP_DESCRIPTION</source>
        <translation>Reads the Viber chat history of an iPhone (from the phone, an iTunes backup, Viber Desktop or a local database), shows it as chat bubbles, exports it and writes it back.</translation>
    </message>
    <message>
        <source>IDS_NONE_INSTALL_ITUNES</source>
        <translation>Failed to load (Apple Mobile Device) framework. Plese click &lt;a href=&quot;%1&quot;&gt;HERE&lt;/a&gt; for help.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>IDS_LOADING_TITLE</source>
        <translation>Reading messages...</translation>
    </message>
    <message>
        <source>Chatwharf</source>
        <translation>Chatwharf</translation>
    </message>
    <message>
        <source>IDS_SEARCH_CONTACT_HINT</source>
        <translation>Search contacts</translation>
    </message>
    <message>
        <source>IDS_SEARCH_MESSAGE_HINT</source>
        <translation>Search messages</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_OPEN_FOLDER_%1</source>
        <translation>Can&#x27;t open the folder %1.</translation>
    </message>
</context>
<context>
    <name>MessageBoxes</name>
    <message>
        <source>IDS_ERROR_OCCURRED</source>
        <translation>An Error Occurred. &lt;br/&gt;&lt;br/&gt;%1&lt;br/&gt;&lt;br/&gt;</translation>
    </message>
    <message>
        <source>IDS_CONTACT_SUPPORT</source>
        <translation>If the problem persists, please write to &lt;a href=&quot;mailto:%1&quot;&gt;%1&lt;/a&gt; and tell us what you were doing.</translation>
    </message>
</context>
<context>
    <name>MobileDevice</name>
    <message>
        <source>IDS_MD_LOAD_FAILED</source>
        <translation>Failed to load (Mobile Device) framework.</translation>
    </message>
    <message>
        <source>IDS_MD_NO_USBMUXD</source>
        <translation>The usbmuxd service, through which iPhones connected by USB are reached, is not installed on this computer. Please install usbmuxd and start the program again.</translation>
    </message>
    <message>
        <source>IDS_MD_SUBSCRIBE_FAILED</source>
        <translation>Cannot watch for iPhones connected by USB (error code %1). Please make sure the usbmuxd service can run and start the program again.</translation>
    </message>
    <message>
        <source>IDS_MD_SESSION_ERROR</source>
        <translation>%1&lt;br/&gt;&lt;br/&gt;Error code: %2</translation>
    </message>
    <message>
        <source>IDS_MD_RESTART_TRUST</source>
        <translation>Please restart your iPhone and computer to try again. If a prompt message pops out on your iPhone, please click &quot;Trust&quot;.</translation>
    </message>
    <message>
        <source>IDS_MD_SERVICE_DEVICE</source>
        <translation>&lt;br/&gt;&lt;br/&gt;device:%1 &lt;br/&gt;&lt;br/&gt;</translation>
    </message>
    <message>
        <source>IDS_MD_DEVICE_DESCRIPTION</source>
        <translation>%1, %2, iOS %3</translation>
    </message>
    <message>
        <source>IDS_MD_UNKNOWN_DEVICE</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>IDS_MD_WIFI_SYNC</source>
        <translation>Please turn off Wifi Sync on iTunes or disconnect computer internet connections to try again.&lt;br/&gt;</translation>
    </message>
    <message>
        <source>IDS_MD_SERVICE_CODE</source>
        <translation>Error code: AMDeviceStartService(%1)=%2</translation>
    </message>
    <message>
        <source>IDS_MD_DEVICE_GONE</source>
        <translation>The iPhone %1 was disconnected. Please connect it again and try again.</translation>
    </message>
    <message>
        <source>IDS_MD_NO_DEVICE</source>
        <translation>The iPhone is no longer connected. Please connect it and try again.</translation>
    </message>
    <message>
        <source>IDS_MD_SENDMSG_LENGTH_%1</source>
        <translation>mobiledevice_sendmsg(msg-length) error.
%1</translation>
    </message>
    <message>
        <source>IDS_MD_SENDMSG_BODY_%1</source>
        <translation>mobiledevice_sendmsg(msg) error.
%1</translation>
    </message>
    <message>
        <source>IDS_MD_RECMSG_LENGTH_%1</source>
        <translation>mobiledevice_recmsg(msg-length) error, received length: %1.</translation>
    </message>
    <message>
        <source>IDS_MD_RECMSG_BODY_%1</source>
        <translation>mobiledevice_recmsg(msg) error, received length: %1.</translation>
    </message>
    <message>
        <source>IDS_MD_RECMSG_TOO_LARGE_%1</source>
        <translation>mobiledevice_recmsg(msg-length) error, the iPhone announced a message of %1 bytes, more than any real answer holds.</translation>
    </message>
</context>
<context>
    <name>IOSViberDbWriter</name>
    <message>
        <source>IDS_STORE_HISTORY_PENDING</source>
        <translation>The Viber store %1 holds changes its app has not finished taking in (table %2), so nothing can be written into it safely. Open Viber on the iPhone, let it finish loading, close it, make a new backup and try again.</translation>
    </message>
    <message>
        <source>IDS_STORE_UNKNOWN_TRIGGER</source>
        <translation>The Viber store %1 contains code of its own (trigger %2) that this program does not know, so nothing is written into it.</translation>
    </message>
    <message>
        <source>IDS_STORE_INDEX_UNUSABLE</source>
        <translation>The search index of the Viber store %1 cannot be kept up to date here (%2), so nothing is written into it.</translation>
    </message>
    <message>
        <source>IDS_STORE_COLUMN_MISSING</source>
        <translation>The file %1 is not a complete Viber message store: the table %2 lacks the column %3.</translation>
    </message>
</context>
<context>
    <name>LocalDatabases</name>
    <message>
        <source>IDS_LOCALDB_NAME_NOT_VALID_%1</source>
        <translation>&quot;%1&quot; is not a valid Local Database name.</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_NOT_DELETED_%1</source>
        <translation>The database folder %1 could not be deleted completely. Please close any program that uses files in it and try again.</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_LOCK_FAILED_%1</source>
        <translation>Could not make the lock file %1 that keeps two programs from writing into the same database at once.</translation>
    </message>
</context>
<context>
    <name>BackupViberMsgThread</name>
    <message>
        <source>IDS_BACKING_UP_VIBER_MESSAGES</source>
        <translation>Backing up Viber messages...</translation>
    </message>
    <message>
        <source>IDS_BACKUP_MESSAGES_%1_%2</source>
        <translation>Messages: %1/%2</translation>
    </message>
    <message>
        <source>IDS_BACKUP_NOTHING_NEW</source>
        <translation>No new messages were backed up.</translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_BACKUP_%n_MESSAGES</source>
        <translation>
            <numerusform>Successfully backed up %n message.</numerusform>
            <numerusform>Successfully backed up %n messages.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_BACKUP_%n_ALREADY_PRESENT</source>
        <translation>
            <numerusform>%n message was already in the database.</numerusform>
            <numerusform>%n messages were already in the database.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_BACKUP_%n_SKIPPED</source>
        <translation>
            <numerusform>%n message could not be copied: a group message without a sender, or a message without a delivery state.</numerusform>
            <numerusform>%n messages could not be copied: group messages without a sender, or messages without a delivery state.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>DeleteViberMsgThread</name>
    <message>
        <source>IDS_DELETING_VIBER_MESSAGES</source>
        <translation>Deleting messages...</translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_DEL_%n_VIBER_MESSAGES</source>
        <translation>
            <numerusform>Successfully deleted %n message.</numerusform>
            <numerusform>Successfully deleted %n messages.</numerusform>
        </translation>
    </message>
    <message>
        <source>IDS_DELETE_FAILED_%1_%2</source>
        <translation>Nothing was deleted from %1. %2</translation>
    </message>
</context>
<context>
    <name>LocalDbSelForm</name>
    <message>
        <source>IDS_LOCALDB_SEL_TITLE</source>
        <translation>Copy into a Local Database</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_SEL_LABEL</source>
        <translation>Copy the messages into the database:</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_SEL_HINT</source>
        <translation>Choose a database to add the messages to it, or type a new name to make a new database.</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_SEL_CONFIRM</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_SEL_CANCEL</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME</source>
        <translation>Select one Database or enter a new Database name</translation>
    </message>
    <message>
        <source>IDS_INVALID_LOCALDB_NAME</source>
        <translation>Invalid Local Database name(can&apos;t contain \ / : * ? &quot; &lt; &gt; |).</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_NEW_NAME_HINT</source>
        <translation>A database&apos;s name, or a new name</translation>
    </message>
</context>
<context>
    <name>ItemModelSms</name>
    <message>
        <source>IDS_LIST_SENDER_%1_IN_GROUP_%2</source>
        <translation>%1 in %2</translation>
    </message>
    <message>
        <source>IDS_COLUMN_DATE</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>IDS_COLUMN_FLAG</source>
        <translation>Flag</translation>
    </message>
    <message>
        <source>IDS_COLUMN_CONTACT</source>
        <translation>Contact</translation>
    </message>
    <message>
        <source>IDS_COLUMN_CONTENT</source>
        <translation>Content</translation>
    </message>
</context>
<context>
    <name>LoadViberMsgThread</name>
    <message>
        <source>IDS_LOADING_%1</source>
        <translation>Reading the messages of %1...</translation>
    </message>
</context>
<context>
    <name>LocalDbActions</name>
    <message>
        <source>IDS_BACKUP_TITLE</source>
        <translation>Backing up Viber messages...</translation>
    </message>
    <message>
        <source>IDS_DELETE_TITLE</source>
        <translation>Deleting messages...</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_THIS_LOCALDB_%1</source>
        <translation>Delete the whole database “%1” with all its messages? This cannot be undone.</translation>
    </message>
    <message>
        <source>IDS_DEL_LOCALDB_SUC</source>
        <translation>Successfully deleted database.</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_BUSY_%1</source>
        <translation>Another program is writing into the database “%1”. Try again when it has finished.</translation>
    </message>
    <message numerus="yes">
        <source>IDS_CONFIRM_DEL_THIS_CHAT_%n_%1_%2</source>
        <translation>
            <numerusform>Delete the chat “%1” and its one message from the database “%2”?</numerusform>
            <numerusform>Delete the chat “%1” and all its %n messages from the database “%2”?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_CONFIRM_DEL_SEL_MESSAGES_%n_%1</source>
        <translation>
            <numerusform>Delete the selected message from the database “%1”?</numerusform>
            <numerusform>Delete the %n selected messages from the database “%1”?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_CONFIRM_DEL_THIS_LOCALDB_%n_%1</source>
        <translation>
            <numerusform>Delete the whole database “%1” with its one message? This cannot be undone.</numerusform>
            <numerusform>Delete the whole database “%1” with its %n messages? This cannot be undone.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ItemModelMain</name>
    <message>
        <source>IDS_ROOT_DEVICE</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>IDS_ROOT_LOCALDB</source>
        <translation>Local Databases</translation>
    </message>
    <message>
        <source>IDS_ROOT_OPENED</source>
        <translation>Backups and Folders</translation>
    </message>
</context>
<context>
    <name>DataSourceSelForm</name>
    <message>
        <source>IDS_TITLE_SELECT_ONE_DEVICE_TO_TRANSFER</source>
        <translation>Please select a Device.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>IDS_CANCEL</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_DATASOURCE</source>
        <translation>Need to select a Device to continue.</translation>
    </message>
</context>
<context>
    <name>AboutDlg</name>
    <message>
        <source>IDS_MI_ABOUT</source>
        <translation>About</translation>
    </message>
    <message>
        <source>IDS_ABOUT_VERSION_%1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>IDS_ABOUT_TEXT_%1</source>
        <translation>Reads, keeps and exports the Viber chat history of an iPhone.&lt;br/&gt;&lt;br/&gt;Questions and suggestions: &lt;a href=&quot;mailto:%1&quot;&gt;%1&lt;/a&gt;</translation>
    </message>
    <message>
        <source>IDS_OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>UpdateCheck</name>
    <message>
        <source>IDS_CHECK_UPDATE_FAILED_%1</source>
        <translation>Failed to check for a new version: the update service (%1) did not answer. Please try again later.</translation>
    </message>
</context>
<context>
    <name>BubblePage</name>
    <message>
        <source>IDS_BUBBLE_PREVIOUS_PAGE</source>
        <translation>Previous page</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_NEXT_PAGE</source>
        <translation>Next page</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_FIRST_PAGE</source>
        <translation>First page</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_LAST_PAGE</source>
        <translation>Last page</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_PAGE_%1_OF_%2</source>
        <translation>Page %1 of %2</translation>
    </message>
    <message>
        <source>IDS_WELCOME_TITLE</source>
        <translation>Welcome! Where are your Viber messages?</translation>
    </message>
    <message>
        <source>IDS_WELCOME_ITUNES</source>
        <translation>In an iTunes backup of your iPhone</translation>
    </message>
    <message>
        <source>IDS_WELCOME_STORE</source>
        <translation>In a folder copied from the iPhone (Contacts.data)</translation>
    </message>
    <message>
        <source>IDS_WELCOME_DESKTOP</source>
        <translation>In Viber Desktop on this computer</translation>
    </message>
    <message>
        <source>IDS_WELCOME_DEVICE</source>
        <translation>On an iPhone connected with its USB cable</translation>
    </message>
    <message>
        <source>IDS_WELCOME_DEMO</source>
        <translation>Open a demo archive first, to see what the program does</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_LOCATION</source>
        <translation>Location</translation>
    </message>
</context>
<context>
    <name>VBBubbleViewMgr</name>
    <message>
        <source>IDS_ATTACHMENT_NOT_FOUND</source>
        <translation>can not find %1.</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_OPEN_FAILED</source>
        <translation>No program could open %1.</translation>
    </message>
    <message>
        <source>IDS_SAVE_ATTACHMENT</source>
        <translation>Save Attachment</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_COPY</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_OPEN_ATTACHMENT</source>
        <translation>Open Attachment</translation>
    </message>
    <message>
        <source>IDS_BUBBLE_SAVE_ATTACHMENT</source>
        <translation>Save Attachment As...</translation>
    </message>
    <message>
        <source>IDS_SAVE_ATTACHMENT_FILE_ERROR</source>
        <translation>Failed to save attachment.</translation>
    </message>
    <message>
        <source>IDS_SAVE_ATTACHMENT_SUC</source>
        <translation>Attachment saved successfully.</translation>
    </message>
</context>
<context>
    <name>StreamedFileExport</name>
    <message>
        <source>IDS_EXPORT_WRITE_FAILED_%1_%2</source>
        <translation>Could not write the file %1: %2.</translation>
    </message>
    <message>
        <source>IDS_WRITE_FAILED</source>
        <translation>the disk is full or the file cannot be written</translation>
    </message>
    <message>
        <source>IDS_DISK_FULL</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>IDS_EXPORT_ALL_CHATS</source>
        <translation>All chats</translation>
    </message>
    <message>
        <source>IDS_EXPORT_INDEX_CHAT</source>
        <translation>Chat</translation>
    </message>
    <message>
        <source>IDS_EXPORT_INDEX_PARTICIPANTS</source>
        <translation>Participants</translation>
    </message>
    <message>
        <source>IDS_EXPORT_INDEX_MESSAGES</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>IDS_EXPORT_INDEX_FIRST</source>
        <translation>First message</translation>
    </message>
    <message>
        <source>IDS_EXPORT_INDEX_LAST</source>
        <translation>Last message</translation>
    </message>
    <message>
        <source>IDS_EXPORT_TXT_CHAT_%1</source>
        <translation>Chat: %1</translation>
    </message>
</context>
<context>
    <name>ExportMessagesThread</name>
    <message>
        <source>IDS_EXPORTING_MESSAGES_TO_FILE</source>
        <translation>Exporting Messages...</translation>
    </message>
    <message>
        <source>IDS_EXPORT_PROGRESS_%1_%2</source>
        <translation>Messages: %1/%2</translation>
    </message>
    <message>
        <source>IDS_EXPORT_FILE_EXISTS_%1</source>
        <translation>The file %1 already exists; the export leaves it as it is.</translation>
    </message>
    <message>
        <source>IDS_EXPORT_FOLDER_NOT_EMPTY_%1</source>
        <translation>The folder %1 already holds files; the export leaves them as they are.</translation>
    </message>
    <message>
        <source>IDS_EXPORT_FOLDER_NOT_MADE</source>
        <translation>the folder to write the export in could not be created</translation>
    </message>
    <message>
        <source>IDS_EXPORT_NOT_MOVED</source>
        <translation>the complete export could not be given this name</translation>
    </message>
    <message>
        <source>IDS_EXPORT_HTML_PAGE_FILE_%1_%2</source>
        <translation>%1 - page %2</translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_EXPORT_%n_MESSAGES</source>
        <translation>
            <numerusform>Successfully exported %n message.</numerusform>
            <numerusform>Successfully exported %n messages.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_EXPORT_%n_MESSAGES_TO_%1</source>
        <translation>
            <numerusform>Successfully exported %n message to %1.</numerusform>
            <numerusform>Successfully exported %n messages to %1.</numerusform>
        </translation>
    </message>
    <message>
        <source>IDS_EXPORT_FORMAT_UNKNOWN_%1</source>
        <translation>There is no export format number %1.</translation>
    </message>
</context>
<context>
    <name>ExtractMediaFilesThread</name>
    <message>
        <source>IDS_EXTRACTING_MEDIA_FILES</source>
        <translation>Extracting attachments...</translation>
    </message>
    <message>
        <source>IDS_NO_MEDIA_FILES_TO_EXTRACT</source>
        <translation>The chosen messages have no attachments to extract.</translation>
    </message>
    <message numerus="yes">
        <source>IDS_EXTRACT_ALL_%n_MEDIA_FILES_MISSING</source>
        <translation>
            <numerusform>No attachment was extracted: the file of the attachment is not in the source (not downloaded to the phone, or deleted).</numerusform>
            <numerusform>No attachment was extracted: the files of all %n attachments are not in the source (not downloaded to the phone, or deleted).</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_EXTRACT_%1_TO_%2_%n_MISSING</source>
        <translation>
            <numerusform>Extracted %1 to %2; %n more was not in the source.</numerusform>
            <numerusform>Extracted %1 to %2; %n more were not in the source.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_EXTRACT_%n_MEDIA_FILES_TO_%1</source>
        <translation>
            <numerusform>Extracted %n attachment to %1.</numerusform>
            <numerusform>Extracted %n attachments to %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>IDS_N_ATTACHMENTS_%n</source>
        <translation>
            <numerusform>%n attachment</numerusform>
            <numerusform>%n attachments</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ExportViberCallsThread</name>
    <message>
        <source>IDS_EXPORT_VIBER_CALLS</source>
        <translation>Extracting call history...</translation>
    </message>
    <message>
        <source>IDS_EXPORT_CALLS_PROGRESS_%1_%2</source>
        <translation>Calls: %1/%2</translation>
    </message>
    <message numerus="yes">
        <source>IDS_SUC_EXPORT_%n_CALLS</source>
        <translation>
            <numerusform>Successfully wrote %n call to the call log.</numerusform>
            <numerusform>Successfully wrote %n calls to the call log.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ExportController</name>
    <message>
        <source>IDS_SEL_EXPORT_MESSAGES_PATH</source>
        <translation>Choose where to export the messages</translation>
    </message>
    <message>
        <source>IDS_EXPORT_REPLACE_FILE_%1</source>
        <translation>The file %1 already exists. Replace it with the export?</translation>
    </message>
    <message>
        <source>Text Files(*.txt)</source>
        <translation>Text Files(*.txt)</translation>
    </message>
    <message>
        <source>Doc Files(*.doc)</source>
        <translation>Doc Files(*.doc)</translation>
    </message>
    <message>
        <source>CSV Files(*.csv)</source>
        <translation>CSV Files(*.csv)</translation>
    </message>
    <message>
        <source>PDF Files(*.pdf)</source>
        <translation>PDF Files(*.pdf)</translation>
    </message>
    <message>
        <source>HTML Files(*.html)</source>
        <translation>HTML Files(*.html)</translation>
    </message>
    <message>
        <source>IDS_TITLE_SEL_OUTPUT_FOLDER_EXTRACT_MEDIA_FILES</source>
        <translation>Please select Save Path for media files.</translation>
    </message>
    <message>
        <source>IDS_EXPORT_TITLE</source>
        <translation>Exporting Messages</translation>
    </message>
    <message>
        <source>IDS_EXTRACT_MEDIA_TITLE</source>
        <translation>Extracting Attachments</translation>
    </message>
    <message>
        <source>IDS_EXPORT_CALLS_TITLE</source>
        <translation>Extracting Call Log</translation>
    </message>
    <message>
        <source>IDS_NO_CALLS_IN_%1</source>
        <translation>There are no calls among %1.</translation>
    </message>
    <message>
        <source>IDS_SEL_EXPORT_CALLS_PATH</source>
        <translation>Choose where to save the call log</translation>
    </message>
    <message>
        <source>JSON Files(*.json)</source>
        <translation>JSON Files(*.json)</translation>
    </message>
</context>
<context>
    <name>ViberMsgPrinter</name>
    <message>
        <source>IDS_PRINT_MESSAGES</source>
        <translation>Print Messages</translation>
    </message>
</context>
<context>
    <name>ImportController</name>
    <message>
        <source>IDS_TITLE_SEL_STORE_FOLDER</source>
        <translation>Please select a folder holding a Viber store (Contacts.data).</translation>
    </message>
    <message>
        <source>IDS_NO_STORE_IN_FOLDER_%1</source>
        <translation>The folder %1 holds no Viber store: neither Contacts.data, Documents/Contacts.data nor com.viber/database/Contacts.data is in it.</translation>
    </message>
    <message>
        <source>IDS_DEMO_ARCHIVE_TITLE</source>
        <translation>Making the demo archive</translation>
    </message>
    <message>
        <source>IDS_VIBER_DESKTOP_FILTER</source>
        <translation>Viber Desktop database (viber.db);;All files (*)</translation>
    </message>
    <message>
        <source>IDS_CHOOSE_VIBER_DB_YOURSELF</source>
        <translation>If you have a copy of a Viber Desktop folder, you can choose its viber.db file. Choose it now?</translation>
    </message>
    <message>
        <source>IDS_OTHER_VIBER_DB_FILE</source>
        <translation>Another viber.db file…</translation>
    </message>
    <message>
        <source>IDS_TITLE_SEL_VIBER_DB</source>
        <translation>Choose a Viber Desktop database (viber.db)</translation>
    </message>
    <message>
        <source>IDS_WELCOME_DEVICE_HOW</source>
        <translation>Connect your iPhone with its USB cable, unlock it and tap &quot;Trust&quot; when it asks. It then appears under Devices on the left.</translation>
    </message>
</context>
<context>
    <name>PCViberDb</name>
    <message>
        <source>IDS_PCVIBER_FILE_MISSING</source>
        <translation>The Viber Desktop database %1 does not exist.</translation>
    </message>
    <message>
        <source>IDS_PCVIBER_FILE_UNREADABLE</source>
        <translation>The Viber Desktop database %1 cannot be read: %2</translation>
    </message>
    <message>
        <source>IDS_PCVIBER_ENCRYPTED</source>
        <translation>This Viber Desktop database is encrypted by Viber and cannot be read: %1. Only the unencrypted databases of earlier Viber Desktop versions can be loaded.</translation>
    </message>
    <message>
        <source>IDS_PCVIBER_NOT_SQLITE</source>
        <translation>The file %1 is not a Viber Desktop database (it is not an SQLite file).</translation>
    </message>
    <message>
        <source>IDS_PCVIBER_COLUMN_MISSING</source>
        <translation>The file %1 is not a complete Viber Desktop database: the column %2 is missing.</translation>
    </message>
    <message>
        <source>IDS_THERE_IS_NO_PC_VIBER_ACCOUNT</source>
        <translation>Can&apos;t find Viber Desktop data on your computer.</translation>
    </message>
    <message>
        <source>IDS_SEL_ONE_PC_VIBER_ACCOUNT</source>
        <translation>Please select a Viber Desktop account:</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_DESKTOP</source>
        <translation>a Viber Desktop database</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_DESKTOP_CONTACTS</source>
        <translation>participants in Contact (2017 and later clients)</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_DESKTOP_CLASSIC</source>
        <translation>participants in OriginNumberInfo (classic clients)</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_NO_KEY</source>
        <translation>have no id</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_NO_CHAT</source>
        <translation>belong to no chat the database holds</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_REPEATED_KEY</source>
        <translation>repeat the id of another row</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_KIND_%1</source>
        <translation>are of a kind this version cannot read (%1)</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_NO_EVENT</source>
        <translation>have no event row</translation>
    </message>
    <message>
        <source>IDS_LEFT_OUT_NO_PERSON</source>
        <translation>name nobody the database holds</translation>
    </message>
</context>
<context>
    <name>BackupCrypto</name>
    <message>
        <source>IDS_BACKUP_CRYPTO_LIBRARY_FAILED</source>
        <translation>The encryption library failed while reading an encrypted backup.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_KEY_LENGTH</source>
        <translation>The backup file %1 cannot be decrypted: its key is not 32 bytes long.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_BAD_SIZE</source>
        <translation>The backup file %1 cannot be decrypted: the backup gives it a negative size.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_READ_FAILED</source>
        <translation>The backup file %1 cannot be read: %2</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_NOT_BLOCKS</source>
        <translation>The backup file %1 is damaged: its encrypted data ends after %2 bytes, inside a 16-byte block.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_WRITE_FAILED</source>
        <translation>The decrypted copy of the backup file %1 cannot be written: %2</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_SHORT</source>
        <translation>The backup file %1 is incomplete: it holds %2 bytes of encrypted data, too few for the %3 bytes the backup lists for it.</translation>
    </message>
    <message>
        <source>IDS_KEYBAG_TRUNCATED</source>
        <translation>The key bag in %1 is damaged: a value runs past its end.</translation>
    </message>
    <message>
        <source>IDS_KEYBAG_BAD_NUMBER</source>
        <translation>The key bag in %1 is damaged: its value %2 is too short for a number.</translation>
    </message>
    <message>
        <source>IDS_KEYBAG_NO_DERIVATION</source>
        <translation>The key bag in %1 is damaged: it lacks the salt or the round count for the password.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_LOCKED</source>
        <translation>The backup file %1 cannot be decrypted: the backup has not been unlocked with its password.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_NO_CLASS</source>
        <translation>The backup file %1 cannot be decrypted: its protection class %2 is not in the backup&apos;s key bag.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_CLASS_LOCKED</source>
        <translation>The backup file %1 cannot be decrypted: the key of its protection class %2 is kept by the iPhone and cannot be unlocked with the password.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_KEY_DAMAGED</source>
        <translation>The backup file %1 cannot be decrypted: its file key is damaged.</translation>
    </message>
    <message>
        <source>IDS_KEYBAG_KEY_CUT_SHORT</source>
        <translation>The key bag in %1 is damaged: the wrapped key of protection class %2 is cut short.</translation>
    </message>
    <message>
        <source>IDS_KEYBAG_NO_PASSWORD_KEY</source>
        <translation>The key bag in %1 is damaged: it holds no key protected by the backup password.</translation>
    </message>
    <message>
        <source>IDS_KEYBAG_KEY_DAMAGED</source>
        <translation>The key bag in %1 is damaged: the password opens some of its keys but not all of them.</translation>
    </message>
</context>
<context>
    <name>BackupManifest</name>
    <message>
        <source>IDS_BACKUP_NO_MANIFEST_KEY_%1</source>
        <translation>The backup file %1 is damaged: it holds no key for the encrypted Manifest.db.</translation>
    </message>
    <message>
        <source>IDS_CANNOT_FIND_%1</source>
        <translation>Cannot find %1</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_OPEN_FAILED_%1_%2</source>
        <translation>Cannot open the backup file %1: %2.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_READ_FAILED_%1_%2</source>
        <translation>Cannot read the backup file %1: %2.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_PLIST_TOO_LARGE_%1</source>
        <translation>The backup file %1 is too large to be a backup manifest.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_PLIST_INVALID_%1</source>
        <translation>The backup file %1 is damaged: it is no readable property list.</translation>
    </message>
    <message>
        <source>IDS_MBDB_TRUNCATED_%1_%2</source>
        <translation>The backup file %1 is truncated or damaged: the record starting at byte %2 runs past the end of the file.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_SHORT_WRITE</source>
        <translation>not everything could be written; the disk may be full</translation>
    </message>
    <message>
        <source>IDS_MBDB_WRITE_FAILED_%1_%2</source>
        <translation>Cannot write the backup file %1: %2.</translation>
    </message>
    <message>
        <source>IDS_MBDB_FIELD_TOO_LONG_%1_%2_%3</source>
        <translation>Cannot write the backup file %1: the record %2-%3 has a text longer than 65,534 bytes or more than 255 properties.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_RECORD_UNSAFE_%1</source>
        <translation>The backup file %1 was not copied: its name points outside the folder it belongs in.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_LOCKED_%1</source>
        <translation>The backup %1 is encrypted and locked. Enter its password before reading files from it.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATA_FILE_OPEN_FAILED_%1_%2_%3</source>
        <translation>Cannot open the backup file %1 (%2): %3.</translation>
    </message>
    <message>
        <source>IDS_BACKUP_COPY_WRITE_FAILED_%1_%2</source>
        <translation>Cannot write the file %1: %2.</translation>
    </message>
</context>
<context>
    <name>IOSLoadViberFromiTunesThread</name>
    <message>
        <source>IDS_LOADING_ITUNES_BACKUP</source>
        <translation>Loading data from iTunes Backup...</translation>
    </message>
    <message>
        <source>IDS_NOT_CONTAIN_VIBER_DATA_IN_ITUNES_BACKUP</source>
        <translation>Found no Viber data in your iTunes Backup.</translation>
    </message>
    <message>
        <source>IDS_CACHING_BACKUP_FILE_%1</source>
        <translation>Loading %1...</translation>
    </message>
    <message>
        <source>IDS_ITUNES_FILES_NOT_COPIED_%1_%2</source>
        <translation>The chats were loaded, but %1 file(s) could not be copied from the backup:&lt;br&gt;%2</translation>
    </message>
    <message>
        <source>IDS_BACKUP_CACHE_FOLDER_FAILED_%1</source>
        <translation>Could not make a private folder in %1 for the files of the encrypted backup.</translation>
    </message>
    <message>
        <source>IDS_CANNOT_WRITE_%1_%2</source>
        <translation>Could not write the file “%1”: %2.</translation>
    </message>
</context>
<context>
    <name>ItemModelLoadBk</name>
    <message>
        <source>IDS_BACKUP_NAME</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>IDS_BACKUP_DATE</source>
        <translation>Backup Date</translation>
    </message>
    <message>
        <source>IDS_BACKUP_PATH</source>
        <translation>Path</translation>
    </message>
</context>
<context>
    <name>LoadItunesBackupDlg</name>
    <message>
        <source>IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD</source>
        <translation>Choose the iTunes backup to read.</translation>
    </message>
    <message>
        <source>IDS_NO_BACKUP_LISTED_THERE_CLICK_&lt;a href=&quot;#&quot;&gt;Here&lt;/a&gt;_ADD</source>
        <translation>Can't find your iTunes Backup on the list? Please manually import it by clicking &lt;a href=&quot;#&quot;&gt;HERE&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>IDS_LOAD</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>IDS_CANCEL</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP</source>
        <translation>Choose one of the backups in the list first, or add its folder with the link below.</translation>
    </message>
    <message>
        <source>IDS_LOAD_BK_EXISTS</source>
        <translation>This iTunes Backup has been listed on the left.</translation>
    </message>
    <message>
        <source>IDS_LOAD_BACKUP_%1_ERROR_%2</source>
        <translation>The backup in %1 cannot be read. %2</translation>
    </message>
    <message>
        <source>IDS_BACKUP_NO_MBDB_%1</source>
        <translation>The folder %1 holds neither Manifest.mbdb nor Manifest.db: it is no iTunes backup this program can read.</translation>
    </message>
    <message>
        <source>IDS_SELECT_AN_ITUNES_BACKUP_TO_WRITE</source>
        <translation>Choose the iTunes backup to write the messages into.</translation>
    </message>
    <message>
        <source>IDS_WRITE_INTO_BACKUP</source>
        <translation>Write into Backup</translation>
    </message>
    <message>
        <source>IDS_NO_BACKUP_FOUND_IN_%1</source>
        <translation>No iTunes backup was found in:&lt;br/&gt;%1&lt;br/&gt;&lt;br/&gt;If your backup is somewhere else, click “Choose Folder…” and pick its folder.</translation>
    </message>
    <message>
        <source>IDS_FOLDER_%1_IS_A_STORE_OPEN_IT</source>
        <translation>%1 holds a Viber message store rather than an iTunes backup. Open it as a store folder?</translation>
    </message>
    <message>
        <source>IDS_CHOOSE_FOLDER</source>
        <translation>Choose Folder…</translation>
    </message>
</context>
<context>
    <name>PasscodeDlg</name>
    <message>
        <source>IDS_ENTER_PASSWORD</source>
        <translation>Enter password</translation>
    </message>
    <message>
        <source>IDS_OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>IDS_CANCEL</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>IDS_PWD_IS_NULL</source>
        <translation>Password is required.</translation>
    </message>
    <message>
        <source>IDS_UNLOCKING_BACKUP_TITLE</source>
        <translation>Unlocking the backup</translation>
    </message>
    <message>
        <source>IDS_INVALID_PASSWORD</source>
        <translation>Invalid password.</translation>
    </message>
    <message>
        <source>IDS_ENTER_PASSWORD_OF_BACKUP_%1_%2</source>
        <translation>The backup “%1” is encrypted. Enter the password that was set for it in iTunes or Finder.&lt;br/&gt;&lt;small&gt;%2&lt;/small&gt;</translation>
    </message>
    <message>
        <source>IDS_SHOW_PASSWORD</source>
        <translation>Show password</translation>
    </message>
</context>
<context>
    <name>ManifestDb</name>
    <message>
        <source>IDS_MANIFESTDB_RECORD_DAMAGED_%1</source>
        <translation>The record of %1 in Manifest.db is damaged.</translation>
    </message>
    <message>
        <source>IDS_MANIFESTDB_UNREADABLE_%1_%2</source>
        <translation>Cannot read the backup index %1: %2</translation>
    </message>
</context>
<context>
    <name>UnlockBackupThread</name>
    <message>
        <source>IDS_UNLOCKING_BACKUP_%1</source>
        <translation>Checking the password of %1…</translation>
    </message>
</context>
<context>
    <name>SourceLoading</name>
    <message>
        <source>IDS_LOADING_VIBER_DESKTOP</source>
        <translation>Loading Viber Desktop Messages</translation>
    </message>
    <message>
        <source>IDS_LOADING_ITUNES_BACKUP_TITLE</source>
        <translation>Loading from iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_BACKUP_%1_%2</source>
        <translation>an iTunes backup indexed by %1, %2</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_ENCRYPTED</source>
        <translation>encrypted</translation>
    </message>
    <message>
        <source>IDS_LAYOUT_NOT_ENCRYPTED</source>
        <translation>not encrypted</translation>
    </message>
</context>
<context>
    <name>CliApp</name>
    <message>
        <source>IDS_CLI_LIST</source>
        <translation>Lists the local databases and the iTunes backups found.</translation>
    </message>
    <message>
        <source>IDS_CLI_CHATS</source>
        <translation>Lists the chats of a source: id, title, participants, messages, first and last date.</translation>
    </message>
    <message>
        <source>IDS_CLI_IMPORT</source>
        <translation>Copies the messages of a source into a local database; messages already there are not added again.</translation>
    </message>
    <message>
        <source>IDS_CLI_EXPORT</source>
        <translation>Exports the messages of a source to TXT, DOC, CSV, PDF, HTML or JSON files.</translation>
    </message>
    <message>
        <source>IDS_CLI_ATTACHMENTS</source>
        <translation>Extracts the attachments of a source into a folder.</translation>
    </message>
    <message>
        <source>IDS_CLI_CALLS</source>
        <translation>Writes the call log of a source to a text file (number, kind, date and duration of each call).</translation>
    </message>
    <message>
        <source>IDS_CLI_USAGE_%1</source>
        <translation>Usage: %1 &lt;command&gt; [options]   (%1 &lt;command&gt; --help for its options)
Commands:</translation>
    </message>
    <message>
        <source>IDS_CLI_VERSION</source>
        <translation>Prints the program's version.</translation>
    </message>
    <message>
        <source>IDS_CLI_UNKNOWN_COMMAND_%1</source>
        <translation>Unknown command "%1".</translation>
    </message>
    <message>
        <source>IDS_CLI_UNEXPECTED_%1</source>
        <translation>Unexpected argument: %1</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_DB</source>
        <translation>Read the local database called name.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_BACKUP</source>
        <translation>Read the iTunes backup in folder (either layout, encrypted or not).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_STORE</source>
        <translation>Read a Viber Contacts.data, or a folder holding one (it is not changed).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_DESKTOP</source>
        <translation>Read a Viber Desktop viber.db file.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_PASSWORD</source>
        <translation>Read the password of an encrypted backup from the first line of file.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_CHAT</source>
        <translation>Only this chat, by id or title (repeatable).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_SINCE</source>
        <translation>Only messages from this day on (local time).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_UNTIL</source>
        <translation>Only messages up to and including this day (local time).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_TO</source>
        <translation>The local database to import into; made when it does not exist.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_FORMAT</source>
        <translation>The output format.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_OUT</source>
        <translation>The output file or folder.</translation>
    </message>
    <message>
        <source>IDS_CLI_BAD_DATE_%1_%2</source>
        <translation>%1 takes a date as yyyy-mm-dd, not "%2".</translation>
    </message>
    <message>
        <source>IDS_CLI_CANCELLED</source>
        <translation>Cancelled; nothing was written.</translation>
    </message>
    <message>
        <source>IDS_CLI_ONE_SOURCE</source>
        <translation>Name exactly one source: --db, --backup, --store or --viber-desktop.</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_DATABASE_%1_%2</source>
        <translation>There is no local database called "%1". Local databases: %2</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_STORE_%1</source>
        <translation>The folder %1 holds no Viber store (Contacts.data).</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_FILE_%1</source>
        <translation>The file %1 does not exist.</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_BACKUP_%1</source>
        <translation>The folder %1 holds no iTunes backup (Manifest.plist with Manifest.db or Manifest.mbdb).</translation>
    </message>
    <message>
        <source>IDS_CLI_PASSWORD_FILE_%1_%2</source>
        <translation>Cannot read the password file %1: %2</translation>
    </message>
    <message>
        <source>IDS_CLI_PASSWORD_PROMPT_%1</source>
        <translation>Password of the encrypted backup %1: </translation>
    </message>
    <message>
        <source>IDS_CLI_PASSWORD_NEEDED_%1</source>
        <translation>The backup %1 is encrypted: give its password with --password-file.</translation>
    </message>
    <message>
        <source>IDS_CLI_WRONG_PASSWORD_%1</source>
        <translation>The password does not unlock the backup %1.</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_CHAT_%1_%2</source>
        <translation>There is no chat "%1" in %2; the chats command lists them.</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_MESSAGES_%1</source>
        <translation>No messages of %1 are in the chosen chats and dates.</translation>
    </message>
    <message>
        <source>IDS_CLI_BAD_DATABASE_NAME_%1</source>
        <translation>"%1" is no valid name for a local database (give one with --to).</translation>
    </message>
    <message>
        <source>IDS_CLI_IMPORTED_%1_%2_%3_%4_%5</source>
        <translation>Added %1 and %2 to %3; %4 and %5 were already there.</translation>
    </message>
    <message>
        <source>IDS_CLI_SKIPPED_%1</source>
        <translation>%1 records could not be written and were skipped.</translation>
    </message>
    <message>
        <source>IDS_CLI_BAD_FORMAT_%1</source>
        <translation>Unknown format "%1": use txt, doc, csv, pdf, html or json.</translation>
    </message>
    <message>
        <source>IDS_CLI_OUT_NEEDED</source>
        <translation>Name the output with --out.</translation>
    </message>
    <message>
        <source>IDS_CLI_OUT_EXISTS_%1</source>
        <translation>The file %1 already exists and is left as it is: name another with --out, or give --force to replace it.</translation>
    </message>
    <message>
        <source>IDS_CLI_OUT_NOT_EMPTY_%1</source>
        <translation>The folder %1 already holds files, which are left as they are: name another with --out, or give --force to write among them (files of the same names are replaced).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_FORCE</source>
        <translation>Write even where --out names an existing file (replaced) or a folder holding files (files of the same names replaced).</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_CALLS_%1</source>
        <translation>No calls of %1 are in the chosen chats and dates.</translation>
    </message>
    <message>
        <source>IDS_CLI_INSPECT</source>
        <translation>Says what a source holds: the layout found, then for chats, people, messages, system events, attachments and calls how many rows it holds, how many were read and why any were left out.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_NO_WAIT</source>
        <translation>Exit at once (code 1) when another run is writing into the database, instead of waiting for it.</translation>
    </message>
    <message>
        <source>IDS_CLI_WAITING_FOR_DATABASE_%1</source>
        <translation>Waiting for another import into “%1” to finish…</translation>
    </message>
    <message>
        <source>IDS_CLI_DATABASE_BUSY_%1</source>
        <translation>Another run is writing into the database “%1”; try again when it has finished.</translation>
    </message>
    <message>
        <source>IDS_CLI_PASSWORD_FILE_EMPTY_%1</source>
        <translation>The password file %1 is empty: its first line must hold the backup password.</translation>
    </message>
    <message>
        <source>IDS_CLI_EXAMPLE_%1</source>
        <translation>Example: %1</translation>
    </message>
    <message>
        <source>IDS_CLI_DELETE</source>
        <translation>Deletes the chosen messages and calls from a local database, in one step that is undone if anything fails.</translation>
    </message>
    <message>
        <source>IDS_CLI_TO_BACKUP</source>
        <translation>Writes the chosen messages into the Viber store inside an iTunes backup (not encrypted), for restoring onto an iPhone; the backup is left unchanged if anything fails.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_ALL</source>
        <translation>Delete every message of the database (without it, choose with --chat, --since or --until).</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_YES</source>
        <translation>Delete without asking.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_QUIET</source>
        <translation>Print errors only: no progress, no summary.</translation>
    </message>
    <message>
        <source>IDS_CLI_DELETE_DB_ONLY</source>
        <translation>delete works on a local database: name it with --db, and no other source.</translation>
    </message>
    <message>
        <source>IDS_CLI_DELETE_NEEDS_CHOICE</source>
        <translation>Choose what to delete with --chat, --since or --until, or give --all to delete every message of the database.</translation>
    </message>
    <message>
        <source>IDS_CLI_DELETE_NEEDS_YES</source>
        <translation>Nothing is deleted without a confirmation: give --yes when no one is at a terminal to answer.</translation>
    </message>
    <message>
        <source>IDS_CLI_DELETE_CONFIRM_%1_%2_%3</source>
        <translation>Delete %1 and %2 from “%3”? [y/N]</translation>
    </message>
    <message>
        <source>IDS_CLI_NOTHING_DELETED</source>
        <translation>Nothing was deleted.</translation>
    </message>
    <message>
        <source>IDS_CLI_DELETED_%1_%2_%3</source>
        <translation>Deleted %1 and %2 from “%3”.</translation>
    </message>
    <message>
        <source>IDS_CLI_BACKUP_TARGET_NEEDED</source>
        <translation>Name the iTunes backup to write into with --backup, and the source with --db, --store or --viber-desktop.</translation>
    </message>
    <message>
        <source>IDS_CLI_ENCRYPTED_TARGET_%1</source>
        <translation>The backup %1 is encrypted: messages can only be written into a backup without a password, since its files would need keys only the phone holds.</translation>
    </message>
    <message>
        <source>IDS_CLI_WROTE_TO_BACKUP_%1_%2_%3</source>
        <translation>Wrote %1 and %2 into the backup %3; those it already held are there once.</translation>
    </message>
    <message>
        <source>IDS_CLI_TRANSFER</source>
        <translation>Transfers the chosen messages into Viber on a connected iPhone (close Viber on the phone first); messages it already holds stay once.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_YES_VIBER_CLOSED</source>
        <translation>Viber is closed on the phone: go on without waiting for Enter.</translation>
    </message>
    <message>
        <source>IDS_CLI_OPT_DEVICE</source>
        <translation>The iPhone to transfer into, by its UDID, when more than one is connected.</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_PHONE</source>
        <translation>No iPhone is connected. Connect it by USB, unlock it and trust this computer, then try again.</translation>
    </message>
    <message>
        <source>IDS_CLI_NO_PHONE_%1_%2</source>
        <translation>No iPhone with the UDID %1 is connected (connected: %2).</translation>
    </message>
    <message>
        <source>IDS_CLI_WHICH_PHONE_%1</source>
        <translation>More than one iPhone is connected; choose one with --device (connected: %1).</translation>
    </message>
    <message>
        <source>IDS_CLI_CLOSE_VIBER_%1</source>
        <translation>Close Viber on the iPhone %1 (swipe it away in the app switcher) before the transfer: a running Viber would overwrite what is written.</translation>
    </message>
    <message>
        <source>IDS_CLI_PRESS_ENTER</source>
        <translation>Press Enter when Viber is closed, or Ctrl+C to stop.</translation>
    </message>
    <message>
        <source>IDS_CLI_TURN_OFF_ICLOUD_BACKUP</source>
        <translation>Turn off iCloud Backup on the iPhone (Settings, your name, iCloud, iCloud Backup), then try again: a phone that backs up to iCloud refuses a restore from this computer.</translation>
    </message>
    <message>
        <source>IDS_CLI_TURN_OFF_BACKUP_ENCRYPTION</source>
        <translation>Turn off “Encrypt local backup” for this iPhone in Finder or iTunes, then try again: the messages can only be written into a backup that is not encrypted.</translation>
    </message>
    <message>
        <source>IDS_CLI_TRANSFERRED_%1_%2_%3</source>
        <translation>Transferred %1 and %2 into the iPhone %3; those it already held are there once.</translation>
    </message>
</context>
<context>
    <name>IOSMergeWAFiles2iTunesBKThread</name>
    <message>
        <source>IDS_TRANSFERRING_FILES</source>
        <translation>Transferring files...</translation>
    </message>
    <message>
        <source>IDS_BACKUP_FILE_%1</source>
        <translation>File: %1</translation>
    </message>
    <message>
        <source>IDS_EXPORT_TO_ENCRYPTED_BACKUP</source>
        <translation>Failed to export messages to iTunes backup because your current iTunes backup is encrypted.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_WRITE_%1_%2</source>
        <translation>can not write %1. %2</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_OVERWRITE_%1</source>
        <translation>can not overwrite %1</translation>
    </message>
</context>
<context>
    <name>backup2tool</name>
    <message>
        <source>IDS_NO_BACKUP_TOOL</source>
        <translation>The device backup tool idevicebackup2 is not installed (Debian package libimobiledevice-utils).</translation>
    </message>
    <message>
        <source>IDS_CANNOT_START_BACKUP_TOOL_%1_%2</source>
        <translation>can not start the backup tool %1: %2</translation>
    </message>
    <message>
        <source>IDS_SECONDS_PASSED_%1</source>
        <translation>%1 seconds passed</translation>
    </message>
    <message>
        <source>IDS_BACKUP_TOOL_FAILED_%1</source>
        <translation>The backup tool failed with exit code %1.</translation>
    </message>
</context>
<context>
    <name>IOSMobileBackupThread</name>
    <message>
        <source>IDS_DEVICE_LOCKED_DURING_BACKUP</source>
        <translation>Your iPhone is locked, or it waited for its passcode in vain. Unlock the iPhone, start again, and when the iPhone asks, enter its passcode on it to allow the backup.</translation>
    </message>
    <message>
        <source>IDS_LOADING_DATA_FROM_DEVICE</source>
        <translation>Loading data from Device...</translation>
    </message>
    <message>
        <source>IDS_CANNOT_REMOVE_OLD_BACKUP_%1</source>
        <translation>Cannot remove the unfinished backup %1.</translation>
    </message>
    <message>
        <source>IDS_UNLOCK_FOR_BACKUP</source>
        <translation>Keep the iPhone unlocked; if it asks for its passcode, enter it on the iPhone.</translation>
    </message>
    <message>
        <source>IDS_RESTART_DEVICE_NOTE</source>
        <translation>&lt;br/&gt;&lt;br/&gt;Note: You can restart your device to try again.</translation>
    </message>
</context>
<context>
    <name>IOSMobileRestoreThread</name>
    <message>
        <source>IDS_DISABLE_FIND_MY_IPHONE</source>
        <translation>Please follow &lt;a href="https://support.apple.com/en-us/HT211149"&gt; this tutorial&lt;/a&gt; to disable "Find my iPhone" first and then restart your iPhone to try again.&lt;br/&gt;&lt;br/&gt;</translation>
    </message>
    <message>
        <source>IDS_RESTORE_NEEDS_SPACE_%1</source>
        <translation>%1 GB free disk space on your device is required restore data.  Please remove some camera roll videos from your device to computer to free up disk space first and then try again.</translation>
    </message>
    <message>
        <source>IDS_TRANSFERRING_DATA_TO_DEVICE</source>
        <translation>Transferring data to Device...</translation>
    </message>
</context>
<context>
    <name>IOSRestoreViberMsgThread</name>
    <message>
        <source>IDS_RESTORING_VIBER_MSG_TO_IOS</source>
        <translation>Transferring messages to iPhone...</translation>
    </message>
    <message>
        <source>IDS_SAVING_VIBER_ATTACHMENTS</source>
        <translation>Saving attachments...</translation>
    </message>
    <message>
        <source>IDS_NO_STORE_TO_MERGE_INTO_%1</source>
        <translation>The iPhone's Viber store %1 is missing: load the iPhone again.</translation>
    </message>
    <message>
        <source>IDS_MERGED_STORE_DAMAGED_%1</source>
        <translation>The merged store %1 did not pass its check; nothing was changed.</translation>
    </message>
    <message>
        <source>IDS_CANNOT_COPY_%1_%2</source>
        <translation>Could not copy “%1” to “%2”.</translation>
    </message>
</context>
<context>
    <name>TransferController</name>
    <message>
        <source>IDS_EXPORT_TO_ENCRYPTED_BACKUP</source>
        <translation>Failed to export messages to iTunes backup because your current iTunes backup is encrypted.</translation>
    </message>
    <message>
        <source>IDS_SEL_ONE_IOS_DEVICE</source>
        <translation>Please select an iPhone:</translation>
    </message>
    <message>
        <source>IDS_BEFORE_RESTORE_VIBER_KILL_VIBER_FIRST</source>
        <translation>To transfer Viber Messages to iPhone successfully, please close Viber on your iPhone first and then click OK button to continue.</translation>
    </message>
    <message>
        <source>IDS_NO_PHONE_TO_TRANSFER_INTO</source>
        <translation>No iPhone is connected to take the messages. Connect it by USB, unlock it and trust this computer, then try again.</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_AND_%2</source>
        <translation>Successfully transferred %1 and %2 into the iPhone.</translation>
    </message>
    <message>
        <source>IDS_SUC_WRITE_BACKUP_%1_AND_%2</source>
        <translation>Successfully wrote %1 and %2 into the backup.</translation>
    </message>
</context>
<context>
    <name>BackupTransfer</name>
    <message>
        <source>IDS_EXPORT_TO_ITUNES_BACKUP_TITLE</source>
        <translation>Exporting Messages to iTunes Backup</translation>
    </message>
</context>
<context>
    <name>AfcConnection</name>
    <message>
        <source>IDS_AFC_TIMEOUT_%1</source>
        <translation>The iPhone did not answer in time while working on %1. Please check the cable and try again.</translation>
    </message>
    <message>
        <source>IDS_AFC_CLOSED_%1</source>
        <translation>The connection to the iPhone was closed while working on %1. Please check the cable and try again.</translation>
    </message>
    <message>
        <source>IDS_AFC_GARBLED_%1</source>
        <translation>The iPhone sent an answer that cannot be understood while working on %1. Please restart your iPhone and try again.</translation>
    </message>
    <message>
        <source>IDS_AFC_BROKEN_%1</source>
        <translation>The connection to the iPhone failed while working on %1. Please check the cable and try again.</translation>
    </message>
    <message>
        <source>IDS_AFC_NOT_CONNECTED</source>
        <translation>The connection is closed.</translation>
    </message>
    <message>
        <source>IDS_AFC_SEND_HEADER_%1</source>
        <translation>send AFC header (%1) error.</translation>
    </message>
    <message>
        <source>IDS_AFC_SEND_CONTENT_%1</source>
        <translation>send AFC content (%1) error.</translation>
    </message>
    <message>
        <source>IDS_AFC_WRITE_FILE</source>
        <translation>write AFC file error.</translation>
    </message>
    <message>
        <source>IDS_AFC_READ_HEADER</source>
        <translation>read AFC header failed.</translation>
    </message>
    <message>
        <source>IDS_AFC_READ_DATA</source>
        <translation>read AFC file block data failed.</translation>
    </message>
    <message>
        <source>IDS_AFC_BAD_HEADER</source>
        <translation>read AFC header failed: the header is not an AFC header.</translation>
    </message>
    <message>
        <source>IDS_AFC_TOO_LARGE_%1_%2</source>
        <translation>read AFC failed: the answer announces %1 bytes, more than the %2 it may hold.</translation>
    </message>
    <message>
        <source>IDS_AFC_UNKNOWN_CODE_%1_%2</source>
        <translation>read AFC failed, Unknown operation code received %1, param1=%2.</translation>
    </message>
    <message>
        <source>IDS_AFC_NO_CONTAINER_%1_%2</source>
        <translation>can not find %1.&lt;br/&gt;%2</translation>
    </message>
</context>
<context>
    <name>IOSFileDownloader</name>
    <message>
        <source>IDS_DL_NO_FOLDER_%1</source>
        <translation>Cannot create the folder %1. Please check that the disk has free space and that you may write there.</translation>
    </message>
    <message>
        <source>IDS_DL_CANNOT_READ_%1</source>
        <translation>Please restart your phone to try again.&lt;br/&gt;&lt;br/&gt;can not read %1.</translation>
    </message>
    <message>
        <source>IDS_DL_CANNOT_CREATE_%1_%2</source>
        <translation>can not create %1.%2</translation>
    </message>
    <message>
        <source>IDS_DL_READ_FAILED_%1</source>
        <translation>Reading %1 from the iPhone failed. Please restart your phone to try again.</translation>
    </message>
    <message>
        <source>IDS_DL_WRITE_FAILED_%1_%2</source>
        <translation>write file %1 failed. %2</translation>
    </message>
    <message>
        <source>IDS_DL_LOADING_%1_%2_%3</source>
        <translation>Loading %1, %2KB / %3KB</translation>
    </message>
    <message>
        <source>IDS_DL_SHORT_%1_%2_%3</source>
        <translation>The iPhone gave only %2 of the %3 bytes of %1. Please restart your phone to try again.</translation>
    </message>
</context>
<context>
    <name>IOSLoadViberThread</name>
    <message>
        <source>IDS_LOADING_IOS_VIBER</source>
        <translation>Loading Viber Messages from iPhone...</translation>
    </message>
    <message>
        <source>IDS_REINSTALL_VIBER</source>
        <translation>Failded to load messages, please reinstall and verify Viber on your iPhone to try again.</translation>
    </message>
</context>
<context>
    <name>DeviceLoading</name>
    <message>
        <source>IDS_TURN_OFF_ICLOUD_BACKUP</source>
        <translation>Failed to transfer data to device. Please turn off iCloud backup on your iPhone to try again.</translation>
    </message>
    <message>
        <source>IDS_TURN_OFF_BACKUP_ENCRYPTION</source>
        <translation>Failed to transfer data to device. Your iTunes backup is encrypted. Please run iTunes on computer and then uncheck &quot;Encrypt iPhone backup&quot; option to try again.</translation>
    </message>
</context>
<context>
    <name>MessagePagePainter</name>
    <message>
        <source>IDS_PDF_PAGE_%1_OF_%2</source>
        <translation>page %1 of %2</translation>
    </message>
</context>
<context>
    <name>ExportMessagesPdf</name>
    <message>
        <source>IDS_PDF_DATES_%1_%2</source>
        <translation>%1 – %2</translation>
    </message>
</context>
<context>
    <name>ContextMenus</name>
    <message>
        <source>IDS_MI_BACKUP_ALL</source>
        <translation>Backup Messages</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_ALL</source>
        <translation>Transfer Messages from iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_All</source>
        <translation>Extract Messages Attachments</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_ALL</source>
        <translation>Export Messages to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_CALL_ALL</source>
        <translation>Extract Call Log</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_ALL</source>
        <translation>Print Messages</translation>
    </message>
    <message>
        <source>IDS_MI_UNMOUNT_DEVICE</source>
        <translation>Disconnect Device</translation>
    </message>
    <message>
        <source>IDS_MI_VIEW_CACHE_FILES</source>
        <translation>View Cache Files</translation>
    </message>
    <message>
        <source>IDS_MI_CLOSE_SOURCE</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>IDS_MI_SHOW_ACCOUNT</source>
        <translation>What This Source Holds…</translation>
    </message>
    <message>
        <source>IDS_MI_OPEN_DB_FOLDER</source>
        <translation>Open Database Folder</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT_FROM_ITUNES</source>
        <translation>Import from iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT_FROM_PC</source>
        <translation>Import Messages from Viber Desktop</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_ALL</source>
        <translation>Transfer Messages from Database to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_ALL</source>
        <translation>Delete this Database</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_TO_ITUNES_ALL</source>
        <translation>Export Messages to iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_CHAT</source>
        <translation>Backup Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_CHAT</source>
        <translation>Transfer Messages with this Contact to other iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_CHAT</source>
        <translation>Transfer Messages with this Contact to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_CHAT</source>
        <translation>Extract Attachments with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_CHAT</source>
        <translation>Export Messages with this Contact to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_CALL_CHAT</source>
        <translation>Extract Call Log with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_CHAT</source>
        <translation>Print Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_CHAT</source>
        <translation>Delete Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_TO_ITUNES_CHAT</source>
        <translation>Export Messages with this contact to iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_SEL</source>
        <translation>Backup selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_SEL</source>
        <translation>Transfer selected Messages to other iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_SEL</source>
        <translation>Transfer selected Messages to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_SEL</source>
        <translation>Export Attachments from selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_SEL</source>
        <translation>Export selected Messages to File</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_SEL</source>
        <translation>Print selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_SEL</source>
        <translation>Delete selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_TO_ITUNES_SEL</source>
        <translation>Export selected Messages to iTunes Backup</translation>
    </message>
</context>
<context>
    <name>DeviceController</name>
    <message>
        <source>IDS_DEVICE_LOADING_UNAVAILABLE_%1</source>
        <translation>%1 is connected, but this version of Chatwharf cannot read messages from an iPhone yet.</translation>
    </message>
    <message>
        <source>IDS_DEVICE_CONNECTED_NOTES</source>
        <translation>&lt;p&gt;&lt;b&gt;Notes:&lt;/b&gt;&lt;/p&gt;&lt;p&gt;&lt;nobr&gt;&lt;b&gt;1.&lt;/b&gt;  If your iPhone is protected with a passcode, please enter your passcode on iPhone first.&lt;/nobr&gt;&lt;/p&gt;&lt;p&gt;&lt;nobr&gt;&lt;b&gt;2.&lt;/b&gt;  Please make sure you have installed and verified Viber on your iPhone.&lt;/nobr&gt;&lt;/p&gt;</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_OPEN_FOLDER_%1</source>
        <translation>Can&#x27;t open the folder %1.</translation>
    </message>
</context>
<context>
    <name>SelectionController</name>
    <message>
        <source>IDS_MESSAGES_COUNT_%1</source>
        <translation>Messages: %1</translation>
    </message>
</context>
<context>
    <name>ToolsController</name>
    <message>
        <source>IDS_NO_NEW_VERSION</source>
        <translation>You are using the latest version.</translation>
    </message>
    <message>
        <source>IDS_NEW_VERSION_AVAILABLE_%1</source>
        <translation>A new version of %1 is available. Would you like to download it now?</translation>
    </message>
    <message>
        <source>Chatwharf</source>
        <translation>Chatwharf</translation>
    </message>
    <message>
        <source>IDS_NO_UPDATE_SERVICE_%1</source>
        <translation>This is Chatwharf %1. No update service is set up for this copy, so nothing was asked over the network. An administrator can name one as serviceUrl in the [updates] section of settings.ini in the program&apos;s data folder.</translation>
    </message>
    <message>
        <source>IDS_MI_AUTO_UPDATE_CHECK</source>
        <translation>Check for Updates at Start</translation>
    </message>
    <message>
        <source>IDS_TIP_NO_UPDATE_SERVICE</source>
        <translation>No update service is set up for this copy of Chatwharf.</translation>
    </message>
    <message>
        <source>IDS_MI_HELP</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>IDS_FEEDBACK_%1_%2</source>
        <translation>Write to %1 with what you did and what you saw. Please attach the program&apos;s log, which is at %2: it names files and counts, never message texts.</translation>
    </message>
    <message>
        <source>IDS_SUC_CLEAR_CACHE</source>
        <translation>Successfully cleared cache files: the copies of connected iPhones, of loaded iTunes backups and the work folder of device backups.</translation>
    </message>
    <message>
        <source>IDS_MI_MAP_SITE</source>
        <translation>Open Places In</translation>
    </message>
    <message>
        <source>IDS_MAP_SITE_OPENSTREETMAP</source>
        <translation>OpenStreetMap</translation>
    </message>
    <message>
        <source>IDS_MAP_SITE_GOOGLE</source>
        <translation>Google Maps</translation>
    </message>
    <message>
        <source>IDS_MAP_SITE_BING</source>
        <translation>Bing Maps</translation>
    </message>
    <message>
        <source>IDS_TIP_PAGE_SIZE</source>
        <translation>How many messages a page of the bubbles shows</translation>
    </message>
    <message numerus="yes">
        <source>IDS_PAGE_SIZE_%n</source>
        <translation>
            <numerusform>%n per page</numerusform>
            <numerusform>%n per page</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>WindowMenus</name>
    <message>
        <source>IDS_MI_BACKUP_TOOLBAR</source>
        <translation>Backup Messages</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_TOOLBAR</source>
        <translation>Transfer Messages from iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_TOOLBAR</source>
        <translation>Transfer Messages from Database to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_TOOLBAR</source>
        <translation>Extract Attachments</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_TOOLBAR</source>
        <translation>Export Messages to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_CALL_TOOLBAR</source>
        <translation>Extract Call Log</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_TOOLBAR</source>
        <translation>Print Messages</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_TOOLBAR</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT_FROM_ITUNES</source>
        <translation>Import from iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_MI_OPEN_STORE_FOLDER</source>
        <translation>Open Viber Store Folder…</translation>
    </message>
    <message>
        <source>IDS_TB_BACKUP</source>
        <translation>Backup</translation>
    </message>
    <message>
        <source>IDS_TB_I2I</source>
        <translation>iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_TB_DB2I</source>
        <translation>Database to iPhone</translation>
    </message>
    <message>
        <source>IDS_TB_IMPORT_ITUNES</source>
        <translation>iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_TB_OPEN_STORE_FOLDER</source>
        <translation>Store Folder</translation>
    </message>
    <message>
        <source>IDS_TB_EXTRACT_MEDIA</source>
        <translation>Attachments</translation>
    </message>
    <message>
        <source>IDS_TB_EXPORT</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>IDS_TB_EXPORT_CALL</source>
        <translation>Call Log</translation>
    </message>
    <message>
        <source>IDS_TB_PRINT</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>IDS_TB_DELETE</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>IDS_MENU_FILE</source>
        <translation>File</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT_FROM_PC</source>
        <translation>Import Messages from Viber Desktop</translation>
    </message>
    <message>
        <source>IDS_MI_OPEN_DB_FOLDER</source>
        <translation>Open Database Folder</translation>
    </message>
    <message>
        <source>IDS_MI_EXIT</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>IDS_MENU_TOOLS</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>IDS_MI_CHECK_UPDATE</source>
        <translation>Check for Update</translation>
    </message>
    <message>
        <source>IDS_CLEAR_CACHE</source>
        <translation>Clear Cache files</translation>
    </message>
    <message>
        <source>IDS_MENU_HELP</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>IDS_MI_HELP</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>IDS_MI_FEEDBACK</source>
        <translation>Feedback and Support</translation>
    </message>
    <message>
        <source>IDS_MI_ABOUT</source>
        <translation>About</translation>
    </message>
    <message>
        <source>IDS_TIP_CONNECT_PHONE</source>
        <translation>Connect an iPhone by USB, unlock it and trust this computer to transfer messages into it.</translation>
    </message>
    <message>
        <source>IDS_TIP_CHOOSE_SOURCE</source>
        <translation>Choose a phone, a store folder, a local database or one of their chats in the list on the left first.</translation>
    </message>
    <message>
        <source>IDS_TIP_BACKUP_ONLY_PHONES</source>
        <translation>Backup copies the messages of a phone or a store folder into a local database; this is a local database already.</translation>
    </message>
    <message>
        <source>IDS_TIP_DELETE_ONLY_LOCAL_DB</source>
        <translation>Only messages of a local database can be deleted: phones, backups and store folders are only read.</translation>
    </message>
</context>
</TS>
