/* Vault-driver double: a kernel driver that behaves as the vault driver does at its
 * interface (device "\Device\QlnVSROV", link "\DosDevices\QlnVSROV", one buffered
 * device-control code, 16-byte frames) and answers from a script that tests set.
 *
 * Every request of the control code is appended to REQUESTS_FILE as [u32 length][bytes],
 * rejected ones included. The reply comes from the head entry of the REG_BINARY value
 * "Replies" under the service's Parameters key, re-read on each request; an entry is
 * [u8 kind][3 zero bytes][i32 status][u32 length][length bytes], kinds as in ENTRY_*.
 * Popping an entry rewrites the value with the entries after it.
 *
 * A request completes inside the dispatch routine unless its entry's kind carries
 * ENTRY_HELD: then its reply is prepared, the request is marked pending and held until a
 * test releases it through the two test control codes (HOLD_WAIT_CODE completes once a
 * request is held, HOLD_RELEASE_CODE completes the held one), so the client's call has
 * returned ERROR_IO_PENDING before the driver writes its reply. A held request that is
 * cancelled (CancelIoEx, the end of its thread) or whose file is cleaned up completes with
 * STATUS_CANCELLED. (Wine 8 sends no cleanup while a request of the file is pending.)
 * ENTRY_STUCK pends the request without a cancel routine: only the driver's unload ends it. */
#include <ntddk.h>

#define VAULT_CONTROL_CODE 0x00222EECu
/* The test's own codes: CTL_CODE(FILE_DEVICE_UNKNOWN, 0xBF0 / 0xBF1, METHOD_BUFFERED, 0). */
#define HOLD_WAIT_CODE 0x00222FC0u
#define HOLD_RELEASE_CODE 0x00222FC4u
#define FRAME_MAGIC 0xCAFEBEEFu
#define HEADER_SIZE 16u
#define POOL_TAG 0x646C5651u /* "QVld" in pool dumps */

#define ENTRY_ANSWER 1
#define ENTRY_RAW 2
#define ENTRY_FAIL 3
#define ENTRY_GROW 4    /* asks for one byte more room than given, each time; never popped */
#define ENTRY_GARBAGE 5 /* status = seed, bytes = u32 count returned (cut to the output) */
#define ENTRY_HELD 0x80 /* flag on any kind: the request is pended and completed later */
#define ENTRY_STUCK 0x40 /* flag on any kind: the request is pended and never completed */
#define MOST_STUCK 16
#define ENTRY_HEADER_SIZE 12u

#define PARAMETERS_KEY L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\QlnVSROV\\Parameters"
#define REPLIES_VALUE L"Replies"
#define REQUESTS_FILE L"\\??\\C:\\windows\\temp\\vault_double_requests.bin"

static PDEVICE_OBJECT g_device;
/* Serializes the read-modify-write of the script and the appends to the record file. */
static KMUTEX g_lock;
/* The held vault request and the test's waiting HOLD_WAIT_CODE request, under g_held_lock. */
static KSPIN_LOCK g_held_lock;
static PIRP g_held;
static PIRP g_hold_waiter;
static PIRP g_stuck[MOST_STUCK]; /* never completed; under g_held_lock */

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

/* Bytes that do not form a reply: an xorshift stream from the seed over the whole output,
 * with the first byte changed if they would begin with the magic. */
static void fill_garbage(UCHAR *out, ULONG out_length, ULONG seed)
{
    ULONG x = seed ? seed : 0x9E3779B9u;
    for (ULONG i = 0; i < out_length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = (UCHAR)(x >> 24);
    }
    if (out_length >= 4 && get_u32(out) == FRAME_MAGIC) out[0] ^= 0xFF;
}

/* Answers one well-formed request from the script; returns the IRP status and sets
 * *returned to the bytes written into `out`, and *held when the entry asks for the
 * request to be pended. */
static NTSTATUS answer_from_script(UCHAR *out, ULONG out_length, ULONG_PTR *returned, BOOLEAN *held,
                                   BOOLEAN *stuck)
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
        kind = s.data[0] & ~(ENTRY_HELD | ENTRY_STUCK);
        *held = (s.data[0] & ENTRY_HELD) != 0;
        *stuck = (s.data[0] & ENTRY_STUCK) != 0;
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
    case ENTRY_GROW:
        if (out_length < HEADER_SIZE) {
            result = STATUS_BUFFER_TOO_SMALL;
        } else {
            put_u32(out, FRAME_MAGIC);
            put_u32(out + 4, 0);
            put_u32(out + 8, 0);
            put_u32(out + 12, out_length - HEADER_SIZE + 1);
            *returned = HEADER_SIZE;
        }
        break;
    case ENTRY_GARBAGE: {
        ULONG count = length >= 4 ? get_u32(bytes) : out_length;
        fill_garbage(out, out_length, (ULONG)status_field);
        *returned = count < out_length ? count : out_length;
        script_pop(&s, entry_size);
        break;
    }
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

/* Takes the IRP out of its slot; NULL when the slot is empty or its cancel routine already
 * runs (which then completes it). */
static PIRP take_held(PIRP *slot, PFILE_OBJECT only_of)
{
    KIRQL irql;
    PIRP irp;
    KeAcquireSpinLock(&g_held_lock, &irql);
    irp = *slot;
    if (irp && only_of && IoGetCurrentIrpStackLocation(irp)->FileObject != only_of) irp = NULL;
    if (irp) {
        *slot = NULL;
        if (!IoSetCancelRoutine(irp, NULL)) irp = NULL;
    }
    KeReleaseSpinLock(&g_held_lock, irql);
    return irp;
}

static void cancel_held(PDEVICE_OBJECT device, PIRP irp)
{
    KIRQL irql;
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g_held_lock, &irql);
    if (g_held == irp) g_held = NULL;
    if (g_hold_waiter == irp) g_hold_waiter = NULL;
    KeReleaseSpinLock(&g_held_lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

/* Pends the IRP in the slot, its completion status and count already set. A full slot
 * fails the IRP with STATUS_DEVICE_BUSY. */
static NTSTATUS hold(PIRP *slot, PIRP irp)
{
    KIRQL irql;
    PIRP waiter = NULL;
    NTSTATUS result = STATUS_PENDING;
    KeAcquireSpinLock(&g_held_lock, &irql);
    if (*slot) {
        result = STATUS_DEVICE_BUSY;
    } else {
        IoSetCancelRoutine(irp, cancel_held);
        if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
            result = STATUS_CANCELLED;
        } else {
            IoMarkIrpPending(irp);
            *slot = irp;
        }
    }
    KeReleaseSpinLock(&g_held_lock, irql);
    if (result != STATUS_PENDING) return complete(irp, result, 0);
    /* A vault request is held: the test's waiter may go on. */
    if (slot == &g_held && (waiter = take_held(&g_hold_waiter, NULL))) complete(waiter, STATUS_SUCCESS, 0);
    return STATUS_PENDING;
}

/* Pends the IRP for good: no cancel routine, never completed before the unload. */
static NTSTATUS keep_stuck(PIRP irp)
{
    KIRQL irql;
    ULONG i = 0;
    KeAcquireSpinLock(&g_held_lock, &irql);
    while (i < MOST_STUCK && g_stuck[i]) ++i;
    if (i < MOST_STUCK) IoMarkIrpPending(irp), g_stuck[i] = irp;
    KeReleaseSpinLock(&g_held_lock, irql);
    return i < MOST_STUCK ? STATUS_PENDING : complete(irp, STATUS_DEVICE_BUSY, 0);
}

/* HOLD_WAIT_CODE completes when a vault request is held (at once if one is); HOLD_RELEASE_CODE
 * completes the held request with its prepared reply, or fails with STATUS_NOT_FOUND. */
static NTSTATUS dispatch_hold_control(PIRP irp, ULONG code)
{
    KIRQL irql;
    BOOLEAN any_held;
    PIRP held;
    if (code == HOLD_RELEASE_CODE) {
        held = take_held(&g_held, NULL);
        if (!held) return complete(irp, STATUS_NOT_FOUND, 0);
        IoCompleteRequest(held, IO_NO_INCREMENT);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    KeAcquireSpinLock(&g_held_lock, &irql);
    any_held = g_held != NULL;
    KeReleaseSpinLock(&g_held_lock, irql);
    if (any_held) return complete(irp, STATUS_SUCCESS, 0);
    return hold(&g_hold_waiter, irp);
}

static NTSTATUS dispatch_open_close(PDEVICE_OBJECT device, PIRP irp)
{
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    PIRP held;
    (void)device;
    /* A held request does not outlive the handle it came through. */
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CLEANUP) {
        if ((held = take_held(&g_held, file))) complete(held, STATUS_CANCELLED, 0);
        if ((held = take_held(&g_hold_waiter, file))) complete(held, STATUS_CANCELLED, 0);
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_control(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG_PTR returned = 0;
    BOOLEAN held = FALSE, stuck = FALSE;
    NTSTATUS status;
    (void)device;

    if (code == HOLD_WAIT_CODE || code == HOLD_RELEASE_CODE) return dispatch_hold_control(irp, code);
    if (code != VAULT_CONTROL_CODE) return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!buffer) {
        in_length = 0;
        out_length = 0;
    }

    KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, NULL);
    record_request(buffer, in_length);
    if (in_length < HEADER_SIZE || get_u32(buffer) != FRAME_MAGIC)
        status = STATUS_INVALID_PARAMETER;
    else
        status = answer_from_script(buffer, out_length, &returned, &held, &stuck);
    KeReleaseMutex(&g_lock, FALSE);
    if (stuck) return keep_stuck(irp);
    if (!held) return complete(irp, status, returned);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = returned;
    return hold(&g_held, irp);
}

static void driver_unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    PIRP held;
    (void)driver;
    if ((held = take_held(&g_held, NULL))) complete(held, STATUS_CANCELLED, 0);
    if ((held = take_held(&g_hold_waiter, NULL))) complete(held, STATUS_CANCELLED, 0);
    for (ULONG i = 0; i < MOST_STUCK; ++i)  /* no request arrives any more */
        if ((held = g_stuck[i])) g_stuck[i] = NULL, complete(held, STATUS_CANCELLED, 0);
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
    KeInitializeSpinLock(&g_held_lock);
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
