/* Vault-driver double: a kernel driver that behaves as the vault driver does at its
 * interface (device "\Device\QlnVSROV", link "\DosDevices\QlnVSROV", one buffered
 * device-control code, 16-byte frames) and answers from a script that tests set.
 *
 * Every request of the control code is appended to REQUESTS_FILE as [u32 length][bytes],
 * rejected ones included. The reply comes from the head entry of the REG_BINARY value
 * "Replies" under the service's Parameters key, re-read on each request; an entry is
 * [u8 kind][3 zero bytes][i32 status][u32 length][length bytes], kinds as in ENTRY_*.
 * Popping an entry rewrites the value with the entries after it. Every request completes
 * inside the dispatch routine, never pending. */
#include <ntddk.h>

#define VAULT_CONTROL_CODE 0x00222EECu
#define FRAME_MAGIC 0xCAFEBEEFu
#define HEADER_SIZE 16u
#define POOL_TAG 0x646C5651u /* "QVld" in pool dumps */

#define ENTRY_ANSWER 1
#define ENTRY_RAW 2
#define ENTRY_FAIL 3
#define ENTRY_HEADER_SIZE 12u

#define PARAMETERS_KEY L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\QlnVSROV\\Parameters"
#define REPLIES_VALUE L"Replies"
#define REQUESTS_FILE L"\\??\\C:\\windows\\temp\\vault_double_requests.bin"

static PDEVICE_OBJECT g_device;
/* Serializes the read-modify-write of the script and the appends to the record file. */
static KMUTEX g_lock;

static void put_u32(UCHAR *at, ULONG value)
{
    at[0] = (UCHAR)value;
    at[1] = (UCHAR)(value >> 8);
    at[2] = (UCHAR)(value >> 16);
    at[3] = (UCHAR)(value >> 24);
}

static ULONG get_u32(const UCHAR *at)
{
    return (ULONG)at[0] | ((ULONG)at[1] << 8) | ((ULONG)at[2] << 16) | ((ULONG)at[3] << 24);
}

/* Appends one record; a failure to record is not the client's business, so it is ignored. */
static void record_request(const UCHAR *bytes, ULONG length)
{
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE file;
    LARGE_INTEGER end;
    UCHAR *record;
    NTSTATUS status;

    record = ExAllocatePoolWithTag(NonPagedPool, (SIZE_T)length + 4, POOL_TAG);
    if (!record) return;
    put_u32(record, length);
    if (length) memcpy(record + 4, bytes, length);

    RtlInitUnicodeString(&path, REQUESTS_FILE);
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    status = ZwCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL,
                          FILE_ATTRIBUTE_NORMAL,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN_IF,
                          FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
    if (NT_SUCCESS(status)) {
        /* One write per record keeps records whole. */
        end.HighPart = -1;
        end.LowPart = FILE_WRITE_TO_END_OF_FILE;
        ZwWriteFile(file, NULL, NULL, NULL, &io, record, length + 4, &end, NULL);
        ZwClose(file);
    }
    ExFreePoolWithTag(record, POOL_TAG);
}

/* The script as read from the registry: the whole value, owned by the caller. */
typedef struct script {
    HANDLE key;
    KEY_VALUE_PARTIAL_INFORMATION *value;
    const UCHAR *data;
    ULONG size;
} script;

static void script_close(script *s)
{
    if (s->value) ExFreePoolWithTag(s->value, POOL_TAG);
    if (s->key) ZwClose(s->key);
    s->value = NULL;
    s->key = NULL;
}

/* Reads the queue. A missing key or value is an empty queue. */
static void script_read(script *s)
{
    UNICODE_STRING key_name, value_name;
    OBJECT_ATTRIBUTES attributes;
    ULONG needed = 0;
    NTSTATUS status;

    s->key = NULL;
    s->value = NULL;
    s->data = NULL;
    s->size = 0;
    RtlInitUnicodeString(&key_name, PARAMETERS_KEY);
    InitializeObjectAttributes(&attributes, &key_name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&s->key, KEY_QUERY_VALUE | KEY_SET_VALUE, &attributes))) {
        s->key = NULL;
        return;
    }
    RtlInitUnicodeString(&value_name, REPLIES_VALUE);
    /* The value can change size between the two queries; try a few times. */
    for (int attempt = 0; attempt < 4; ++attempt) {
        status = ZwQueryValueKey(s->key, &value_name, KeyValuePartialInformation, s->value,
                                 s->value ? needed : 0, &needed);
        if (NT_SUCCESS(status)) break;
        if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) return;
        if (s->value) ExFreePoolWithTag(s->value, POOL_TAG);
        s->value = ExAllocatePoolWithTag(PagedPool, needed, POOL_TAG);
        if (!s->value) return;
    }
    if (!NT_SUCCESS(status) || !s->value || s->value->Type != REG_BINARY) return;
    s->data = s->value->Data;
    s->size = s->value->DataLength;
}

/* Drops the head entry of `entry_size` bytes by writing back the entries after it. */
static void script_pop(script *s, ULONG entry_size)
{
    UNICODE_STRING value_name;
    static UCHAR nothing;
    const UCHAR *rest = s->size > entry_size ? s->data + entry_size : &nothing;
    RtlInitUnicodeString(&value_name, REPLIES_VALUE);
    ZwSetValueKey(s->key, &value_name, 0, REG_BINARY, (PVOID)rest, s->size - entry_size);
}

/* Answers one well-formed request from the script; returns the IRP status and sets
 * *returned to the bytes written into `out`. */
static NTSTATUS answer_from_script(UCHAR *out, ULONG out_length, ULONG_PTR *returned)
{
    static const UCHAR default_payload[2] = {0x00, 0x00}; /* status field: varint 0 */
    script s;
    ULONG kind = ENTRY_ANSWER, length = sizeof default_payload, entry_size = 0;
    LONG status_field = 0;
    const UCHAR *bytes = default_payload;
    NTSTATUS result = STATUS_SUCCESS;

    *returned = 0;
    script_read(&s);
    if (s.size) {
        if (s.size < ENTRY_HEADER_SIZE) {
            script_close(&s);
            return STATUS_INTERNAL_ERROR; /* a broken script is the test's own fault */
        }
        kind = s.data[0];
        status_field = (LONG)get_u32(s.data + 4);
        length = get_u32(s.data + 8);
        if (length > s.size - ENTRY_HEADER_SIZE) {
            script_close(&s);
            return STATUS_INTERNAL_ERROR;
        }
        bytes = s.data + ENTRY_HEADER_SIZE;
        entry_size = ENTRY_HEADER_SIZE + length;
    }

    switch (kind) {
    case ENTRY_ANSWER:
        if (out_length < HEADER_SIZE) {
            result = STATUS_BUFFER_TOO_SMALL; /* not even room for the header: keep it */
        } else if ((ULONGLONG)HEADER_SIZE + length > out_length) {
            /* Ask for more room and keep the entry for the resend. */
            put_u32(out, FRAME_MAGIC);
            put_u32(out + 4, 0);
            put_u32(out + 8, 0);
            put_u32(out + 12, length);
            *returned = HEADER_SIZE;
        } else {
            put_u32(out, FRAME_MAGIC);
            put_u32(out + 4, 0);
            put_u32(out + 8, (ULONG)status_field);
            put_u32(out + 12, length);
            if (length) memcpy(out + HEADER_SIZE, bytes, length);
            *returned = HEADER_SIZE + length;
            if (entry_size) script_pop(&s, entry_size);
        }
        break;
    case ENTRY_RAW: {
        ULONG n = length < out_length ? length : out_length;
        if (n) memcpy(out, bytes, n);
        *returned = n;
        script_pop(&s, entry_size);
        break;
    }
    case ENTRY_FAIL:
        result = (NTSTATUS)status_field;
        script_pop(&s, entry_size);
        break;
    default:
        result = STATUS_INTERNAL_ERROR;
        break;
    }
    script_close(&s);
    return result;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS dispatch_open_close(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_control(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR returned = 0;
    NTSTATUS status;
    (void)device;

    if (stack->Parameters.DeviceIoControl.IoControlCode != VAULT_CONTROL_CODE)
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!buffer) {
        in_length = 0;
        out_length = 0;
    }

    KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, NULL);
    record_request(buffer, in_length);
    if (in_length < HEADER_SIZE || get_u32(buffer) != FRAME_MAGIC)
        status = STATUS_INVALID_PARAMETER;
    else
        status = answer_from_script(buffer, out_length, &returned);
    KeReleaseMutex(&g_lock, FALSE);
    return complete(irp, status, returned);
}

static void driver_unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    (void)driver;
    RtlInitUnicodeString(&link, L"\\DosDevices\\QlnVSROV");
    IoDeleteSymbolicLink(&link);
    if (g_device) IoDeleteDevice(g_device);
    g_device = NULL;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    UNICODE_STRING name, link;
    NTSTATUS status;
    (void)registry_path;

    KeInitializeMutex(&g_lock, 0);
    RtlInitUnicodeString(&name, L"\\Device\\QlnVSROV");
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_device);
    if (!NT_SUCCESS(status)) return status;
    RtlInitUnicodeString(&link, L"\\DosDevices\\QlnVSROV");
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_device);
        g_device = NULL;
        return status;
    }
    g_device->Flags |= DO_BUFFERED_IO;
    g_device->Flags &= ~DO_DEVICE_INITIALIZING;

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_control;
    driver->DriverUnload = driver_unload;
    return STATUS_SUCCESS;
}
